// The fetcher's list of text lines: all characters in one buffer and the end of each line beside
// them, so a body of many short lines costs a few allocations instead of one per line.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Where large blocks (a long body's text and line ends) come from. The program's fetcher gives
// blocks straight from the system, aligned and marked for huge pages (filling 20 MB page by page
// otherwise costs more than receiving it); without it they come from operator new.
struct LargeBlockSource {
    void* (*allocate)(std::size_t bytes);
    void (*free)(void* block, std::size_t bytes);
};

namespace large_blocks {
inline void* NewBlock(std::size_t bytes) {
    return ::operator new(bytes);
}
inline void DeleteBlock(void* block, std::size_t) {
    ::operator delete(block);
}
inline LargeBlockSource g_source{NewBlock, DeleteBlock};
inline std::atomic<bool> g_bHandedOut{false};
}  // namespace large_blocks

// Takes effect only before the first large block is handed out, so every block goes back to
// the source it came from. Returns whether it took effect.
inline bool SetLargeBlockSource(const LargeBlockSource& source) {
    if (large_blocks::g_bHandedOut.load()) return false;
    large_blocks::g_source = source;
    return true;
}

template <typename T>
struct CLargeBlockAllocator {
    using value_type = T;
    static constexpr std::size_t kLargeBytes = 2 * 1024 * 1024;

    CLargeBlockAllocator() = default;
    template <typename U>
    CLargeBlockAllocator(const CLargeBlockAllocator<U>&) {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargeBytes) return static_cast<T*>(::operator new(bytes));
        large_blocks::g_bHandedOut.store(true);
        return static_cast<T*>(large_blocks::g_source.allocate(bytes));
    }
    void deallocate(T* p, std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargeBytes)
            ::operator delete(p);
        else
            large_blocks::g_source.free(p, bytes);
    }
    // Growing leaves new room as it is: it is written right after, so clearing it is waste.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
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
    void AppendPiece(std::string_view piece) {
        m_chars.insert(m_chars.end(), piece.begin(), piece.end());
    }
    // Room for `size` more characters of the open line, to be written in place; what is not
    // used goes back with ShrinkOpenLine.
    char* ExtendOpenLine(std::size_t size) {
        const std::size_t old = m_chars.size();
        m_chars.resize(old + size);
        return m_chars.data() + old;
    }
    void ShrinkOpenLine(std::size_t unused) { m_chars.resize(m_chars.size() - unused); }
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
        return a.m_ends == b.m_ends && std::string_view(a.m_chars.data(), a.OpenLineStart()) ==
                                           std::string_view(b.m_chars.data(), b.OpenLineStart());
    }

private:
    std::vector<char, CLargeBlockAllocator<char>> m_chars;
    std::vector<std::size_t, CLargeBlockAllocator<std::size_t>> m_ends;
};
