// Command lines split by the Windows convention, so a command line written
// for CreateProcess ("msiexec /i \"C:\\a b\\x.msi\" /q") reaches the program
// as the same words.
#include "platform/process/Process.h"

namespace vela5::platform::Process {

std::vector<std::string> SplitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (size_t i = 0; i < commandLine.size();) {
        const char c = commandLine[i];
        if (c == '\\') {
            size_t run = 0;
            while (i < commandLine.size() && commandLine[i] == '\\') {
                ++run;
                ++i;
            }
            if (i < commandLine.size() && commandLine[i] == '"') {
                word.append(run / 2, '\\');
                if (run % 2 == 1) {
                    word.push_back('"');
                    ++i;
                }
            } else {
                word.append(run, '\\');
            }
            inWord = true;
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
            ++i;
            continue;
        }
        if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
            ++i;
            continue;
        }
        word.push_back(c);
        inWord = true;
        ++i;
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

std::string QuoteArgument(const std::string& word)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : word) {
        if (c == '\\') {
            ++backslashes;
            quoted.push_back(c);
            continue;
        }
        if (c == '"') {
            // The backslashes before a quote double, and the quote is escaped.
            quoted.append(backslashes + 1, '\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    // Backslashes before the closing quote double too.
    quoted.append(backslashes, '\\');
    quoted.push_back('"');
    return quoted;
}

} // namespace vela5::platform::Process
