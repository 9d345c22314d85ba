// The "Save Details" text report of the slot and token information list:
// its header, the tab rule that lines the values up, and writing it.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>
#include <wx/string.h>

namespace SaveDetailsReport {

// One list row: the label and its value.
using Row = std::pair<wxString, wxString>;

// The tabs after a label: three for up to 8 characters, two for 9 to 15, one
// for 16 or more, so the values start in one column.
wxString TabsAfterLabel(const wxString& label);

// The whole report in UTF-8 with CRLF line ends: the framed header naming
// the program and when it was made, then one line per row.
std::string Format(const std::vector<Row>& rows, const wxString& programName, const wxString& createdAt);

// Creates the file (replacing one that exists) and writes bytes into it.
// 0 on success, else the system's error number of the step that failed.
int Write(const std::filesystem::path& file, const std::string& bytes);

} // namespace SaveDetailsReport
