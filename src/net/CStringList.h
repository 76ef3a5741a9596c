// The fetcher's list of text lines: all characters in one buffer and the end of each line beside
// them, so a body of many short lines costs a few allocations instead of one per line.
#pragma once

#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

class CStringList {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using reference = std::string_view;
        using pointer = void;

        const_iterator() = default;
        const_iterator(const CStringList* list, std::size_t index) : m_list(list), m_index(index) {}

        std::string_view operator*() const { return (*m_list)[m_index]; }
        std::string_view operator[](difference_type n) const { return (*m_list)[m_index + n]; }
        const_iterator& operator++() {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int) { return {m_list, m_index++}; }
        const_iterator& operator--() {
            --m_index;
            return *this;
        }
        const_iterator operator--(int) { return {m_list, m_index--}; }
        const_iterator& operator+=(difference_type n) {
            m_index += n;
            return *this;
        }
        const_iterator& operator-=(difference_type n) {
            m_index -= n;
            return *this;
        }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.m_index) -
                   static_cast<difference_type>(b.m_index);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.m_index == b.m_index;
        }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
            return a.m_index <=> b.m_index;
        }

    private:
        const CStringList* m_list = nullptr;
        std::size_t m_index = 0;
    };
    using iterator = const_iterator;
    using value_type = std::string_view;
    using size_type = std::size_t;

    CStringList() = default;
    CStringList(std::initializer_list<std::string_view> lines) {
        for (std::string_view line : lines) push_back(line);
    }

    // Finished lines only; text appended after the last EndLine is not counted.
    std::size_t size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }

    std::string_view operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_chars.data() + begin, m_ends[i] - begin);
    }
    std::string String(std::size_t i) const { return std::string((*this)[i]); }
    std::string_view front() const { return (*this)[0]; }
    std::string_view back() const { return (*this)[size() - 1]; }

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    void clear() {
        m_chars.clear();
        m_ends.clear();
    }
    void reserve(std::size_t chars, std::size_t lines) {
        m_chars.reserve(chars);
        m_ends.reserve(lines);
    }

    // A whole line (together with any text appended to the open line before it).
    void push_back(std::string_view line) {
        AppendPiece(line);
        EndLine();
    }

    // Building a line in pieces: the open line is the text appended since the last finished one.
    void AppendPiece(std::string_view piece) { m_chars.append(piece.data(), piece.size()); }
    std::string_view OpenLine() const {
        const std::size_t begin = OpenBegin();
        return std::string_view(m_chars.data() + begin, m_chars.size() - begin);
    }
    void EndLine() { m_ends.push_back(m_chars.size()); }
    // Finishes the first `length` characters of the open line; the rest stays open.
    void EndLineAfter(std::size_t length) { m_ends.push_back(OpenBegin() + length); }
    void DropOpenLine() { m_chars.resize(OpenBegin()); }

    friend bool operator==(const CStringList& a, const CStringList& b) {
        return a.m_ends == b.m_ends &&
               a.m_chars.compare(0, a.OpenBegin(), b.m_chars, 0, b.OpenBegin()) == 0;
    }

private:
    std::size_t OpenBegin() const { return m_ends.empty() ? 0 : m_ends.back(); }

    std::string m_chars;
    std::vector<std::size_t> m_ends;
};
