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

// Large blocks (a long body's text and line ends) come straight from the system, aligned and
// marked for huge pages: filling 20 MB page by page otherwise costs more than receiving it.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block, std::size_t bytes);

template <typename T>
struct CLargeBlockAllocator {
    using value_type = T;
    static constexpr std::size_t kLargeBytes = 2 * 1024 * 1024;

    CLargeBlockAllocator() = default;
    template <typename U>
    CLargeBlockAllocator(const CLargeBlockAllocator<U>&) {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        return static_cast<T*>(bytes < kLargeBytes ? ::operator new(bytes)
                                                   : AllocateLargeBlock(bytes));
    }
    void deallocate(T* p, std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargeBytes)
            ::operator delete(p);
        else
            FreeLargeBlock(p, bytes);
    }
    friend bool operator==(const CLargeBlockAllocator&, const CLargeBlockAllocator&) {
        return true;
    }
};

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
        const std::size_t begin = OpenLineStart();
        return std::string_view(m_chars.data() + begin, m_chars.size() - begin);
    }
    // Where the open line starts in the text of all lines.
    std::size_t OpenLineStart() const { return m_ends.empty() ? 0 : m_ends.back(); }
    void EndLine() { m_ends.push_back(m_chars.size()); }
    // Finishes the first `length` characters of the open line; the rest stays open.
    void EndLineAfter(std::size_t length) { m_ends.push_back(OpenLineStart() + length); }
    // Finishes lines at these positions in the text of all lines (rising, within the open line).
    void EndLinesAt(const std::size_t* positions, std::size_t count) {
        m_ends.insert(m_ends.end(), positions, positions + count);
    }
    void DropOpenLine() { m_chars.resize(OpenLineStart()); }

    friend bool operator==(const CStringList& a, const CStringList& b) {
        return a.m_ends == b.m_ends &&
               a.m_chars.compare(0, a.OpenLineStart(), b.m_chars, 0, b.OpenLineStart()) == 0;
    }

private:
    std::basic_string<char, std::char_traits<char>, CLargeBlockAllocator<char>> m_chars;
    std::vector<std::size_t, CLargeBlockAllocator<std::size_t>> m_ends;
};
