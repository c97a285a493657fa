// The subcommands of tesserix-cli. Each group of subcommands lives in its own
// file and registers a setup function with a static CommandRegistration; main
// runs every setup on the one CLI11 application before parsing.
#pragma once

#include <CLI/CLI.hpp>

namespace tsx::cli {

using CommandSetup = void (*)(CLI::App& app);

/// The setups registered so far, in no fixed order.
std::vector<CommandSetup>& commandSetups();

struct CommandRegistration {
    explicit CommandRegistration(CommandSetup setup) { commandSetups().push_back(setup); }
};

}  // namespace tsx::cli
