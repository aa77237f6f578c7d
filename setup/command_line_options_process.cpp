#include "platform/system_facts.h"
#include "setup/command_line_options.h"

CommandLineOptions::CommandLineOptions() : CommandLineOptions(platform::CommandLine()) {}
