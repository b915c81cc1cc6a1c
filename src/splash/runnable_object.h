#pragma once

namespace talve {

// Work that runs on a thread of its own.
class RunnableObject {
public:
    virtual ~RunnableObject() = default;
    virtual void run() = 0;
};

} // namespace talve
