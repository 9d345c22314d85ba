#include "ScopedTestRoot.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

ScopedTestRoot::ScopedTestRoot()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vela5-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_base = pattern;
    std::filesystem::create_directories(Root());
    std::filesystem::create_directories(Temp());
    setenv("VELA5_ROOT", Root().c_str(), 1);
    setenv("TMPDIR", Temp().c_str(), 1);
}

ScopedTestRoot::~ScopedTestRoot()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_base, ignored);
}
