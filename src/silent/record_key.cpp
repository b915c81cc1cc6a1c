#include "platform/bootstrap_context.h"

namespace talve {

// No key is asked for or exported yet; a record run goes on without one.
bool BootstrapContext::enterRecordKey() { return true; }

bool BootstrapContext::exportRecordKey() { return true; }

} // namespace talve
