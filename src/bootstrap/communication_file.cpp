#include "bootstrap/communication_file.h"

#include "platform/bootstrap_context.h"
#include "platform/file_read_problem.h"

namespace talve {

namespace {
// The installer writes a few lines; a file past this is not its answer.
constexpr std::size_t communicationFileLimit = 1024 * 1024;
} // namespace

PropertyMap readCommunicationFile(BootstrapContext& context, const std::string& path) {
    PropertyMap properties;
    const FileRead comm = context.platform().readRegularFile(path, communicationFileLimit);
    if (comm.status == FileReadStatus::ok)
        properties.load(comm.content, context.platform().conventions().textLinesEndInCrLf);
    else if (comm.status != FileReadStatus::missing)
        context.logWarning(fileReadProblem(path, comm.status, communicationFileLimit));
    return properties;
}

} // namespace talve
