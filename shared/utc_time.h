// Times in UTC as the registry records write them.
#pragma once

#include <string>

// A UTC time as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                        unsigned second);

// The current time, as UtcTimeText writes it.
std::string UtcNowText();
