// Command lines split by the Windows convention, so a command line written
// for CreateProcess ("msiexec /i \"C:\\a b\\x.msi\" /q") reaches the program
// as the same words.
#include "platform/process/Process.h"

namespace Process {

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

} // namespace Process
