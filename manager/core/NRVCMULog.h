// The manager's log writer: one global instance appending whole lines to
// "nrvcmutestlog.txt" in the temporary folder's "nrvcme". Each call opens,
// writes and closes the file, so lines from different threads never mix
// inside one call; a missing folder means nothing is written. A file that
// passes kMaxFileSize becomes "nrvcmutestlog.txt.1" and a new one starts, so
// the 250 ms poll's lines never fill the disk.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <wx/string.h>

class NRVCMULog final {
public:
    // The global writer, created on first use with the file in the current
    // temporary folder.
    static NRVCMULog& Get();

    // A writer for the file in the temporary folder as it is now.
    NRVCMULog();
    // A writer for an explicit file (tests).
    explicit NRVCMULog(const wxString& filePath);

    NRVCMULog(const NRVCMULog&) = delete;
    NRVCMULog& operator=(const NRVCMULog&) = delete;

    // text1, a TAB and text2, then "\n" when newline is set.
    void Write(std::string_view text1, std::string_view text2, bool newline);
    // Write(text, " ", true): ENTER and EXIT lines end in TAB, blank, newline.
    void WriteLine(std::string_view text);
    // Write with wideText2 converted to the C runtime's multibyte encoding
    // (UTF-8 when it cannot be converted, so the line is never lost).
    void WriteText(std::string_view text1, const wxString& wideText2, bool newline);
    // Write with the value formatted by a printf-style pattern ("%d", "%08X").
    template <std::integral T>
    void WriteValue(std::string_view text1, std::string_view format, T value, bool newline)
    {
        if constexpr (std::is_signed_v<T>) {
            WriteSignedValue(text1, format, static_cast<std::int64_t>(value), newline);
        } else {
            WriteUnsignedValue(text1, format, static_cast<std::uint64_t>(value), newline);
        }
    }

    static constexpr std::uintmax_t kMaxFileSize = 8 * 1024 * 1024;

    wxString GetFilePath() const { return m_filePath; }
    // The file the full log moves to: the file's own name plus ".1".
    wxString GetRotatedFilePath() const { return m_filePath + wxS(".1"); }
    bool IsEnabled() const { return m_enabled; }

    // Points the global writer at the log file of the current temporary
    // folder; tests call it after giving themselves their own folder.
    static void Relocate();

    // "<folder>/nrvcmutestlog.txt"
    static wxString DefaultFilePath();

    // The user's own folder of the settings and the log: "nrvcme" in
    // $TMPDIR, else in $XDG_RUNTIME_DIR, else /tmp/nrvcme-<uid>.
    static wxString Folder();
    // Creates the folder 0700 when missing and narrows one of the user's to
    // 0700; false for anything that is not a directory of this user's (a
    // link, or a folder someone else planted), which is then left alone.
    static bool MakePrivateFolder(const wxString& folder);
    // A directory of this user's, not a link to one.
    static bool IsOwnFolder(const wxString& folder);
    static bool IsOwnFolder(const std::string& folder);

private:
    void RotateIfFull();
    void WriteSignedValue(std::string_view text1, std::string_view format, std::int64_t value, bool newline);
    void WriteUnsignedValue(
        std::string_view text1, std::string_view format, std::uint64_t value, bool newline);

    void SetFilePath(const wxString& filePath);

    wxString m_filePath;
    // The same paths as the file calls take them, converted once: a
    // wxString's conversion is cached inside it, so converting the shared
    // path on every write raced between writer threads.
    std::string m_nativeFilePath;
    std::string m_nativeFolder;
    bool m_enabled = true;
};
