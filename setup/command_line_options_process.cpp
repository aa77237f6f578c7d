#include "platform/files_processes.h"
#include "setup/command_line_options.h"

CommandLineOptions::CommandLineOptions() : CommandLineOptions(GetCommandLineA()) {}
