// Splits the process command line into options and names each option by its first word.
#pragma once

#include <map>
#include <string>
#include <vector>

class CommandLineOptions {
  public:
    // Splits the command line of the running process.
    CommandLineOptions();
    // Splits the given command line, program name first.
    explicit CommandLineOptions(const char* commandLine);
    CommandLineOptions(const CommandLineOptions&) = delete;
    CommandLineOptions& operator=(const CommandLineOptions&) = delete;

    int GetCount() const;
    // The name of option `index`; empty for an index out of range.
    std::string GetName(int index);

  private:
    std::string ParseName(unsigned index) const;
    void Split();

    std::vector<std::size_t> OptionStarts;  // first byte after each opening hyphen
    std::map<int, std::string> NameCache;   // an empty entry counts as not parsed
    std::string CommandLineCopy;            // a NUL replaces each opening hyphen
    unsigned char InQuotes = 0;
    unsigned char QuotingEnabled = 1;
};

// The command tail: the command line without the program name (which ends at the first byte of
// code 32 or lower outside double quotes) and without the bytes of code 32 or lower after it.
const char* CommandTail(const char* commandLine);
