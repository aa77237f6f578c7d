// Names from the package's settings as the platform's wide-character calls take them.
#pragma once

#include <string>

// A settings value in UTF-16: decoded as UTF-8, which the builder writes; an older package's value
// that is not valid UTF-8 is read in the ANSI code page, as it always was. The same package
// thus names the same key and folder on every PC, whatever its code pages.
std::wstring WideSettingText(const std::string& value);

// A folder setting with its %NAME% references expanded, without a trailing backslash; empty, with
// `error` set to the platform's error, when it does not expand to an absolute folder that fits a
// path buffer (a %NAME% that no variable defines, a result that is relative). Wide throughout, so
// that the folder is the same on every PC whatever its code pages.
std::wstring ExpandedFolderSetting(const std::string& folder, unsigned long& error);

// The ASCII characters of a wide path as they are, every other one as '?': enough for the checks
// that look at drive letters, separators and percent signs only.
std::string AsciiShadow(const std::wstring& path);
