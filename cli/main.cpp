// tesserix-cli: the batch tool. Subcommand callbacks raise the program's own
// errors; they end the run with the message on stderr and exit status 1.
// A command line that does not parse exits with status 2.
#include <cstdio>
#include <exception>

#include "cli/command.h"
#include "tesserix_version.h"

namespace tsx::cli {

std::vector<CommandSetup>& commandSetups()
{
    static std::vector<CommandSetup> setups;
    return setups;
}

}  // namespace tsx::cli

int main(int argc, char** argv)
{
    CLI::App app{"Tesserix batch tool: converts pictures, computes signatures and makes photomosaics"};
    app.set_version_flag("--version", std::string("tesserix-cli ") + tsx::kVersion);
    app.require_subcommand(1);
    for (tsx::cli::CommandSetup setup : tsx::cli::commandSetups())
        setup(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int shown = app.exit(e);
        return shown == 0 ? 0 : 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
