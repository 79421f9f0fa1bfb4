#pragma once

#include <ostream>
#include <streambuf>
#include <string>

// A stream buffer that passes each whole line on to target with a prefix,
// so the sender's progress lines say which step they belong to.
class PrefixedLines : public std::streambuf {
public:
    PrefixedLines(std::ostream &target, std::string prefix) : m_target(target), m_prefix(std::move(prefix)) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        m_line.push_back(traits_type::to_char_type(c));
        if (m_line.back() == '\n') {
            m_target << m_prefix << m_line << std::flush;
            m_line.clear();
        }
        return c;
    }

    std::streamsize xsputn(const char *text, std::streamsize count) override
    {
        for (std::streamsize i = 0; i < count; ++i)
            overflow(traits_type::to_int_type(text[i]));
        return count;
    }

private:
    std::ostream &m_target;
    std::string m_prefix;
    std::string m_line;
};
