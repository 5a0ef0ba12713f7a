// The library's collections: a dynamic array with a movable first index and range-tested access,
// an owning vector of pointers, and a vector kept sorted by a pair of predicates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "kxalloc.h"
#include "kxexception.h"

class KxInputStreamInterface;
class KxOutputStreamInterface;

// Common base of the value classes held by pointer, so owners can delete through it.
class KxArrayPointerObject {
public:
    virtual ~KxArrayPointerObject() = default;
};

// Draws vector storage from KxAllocate, so running out raises KxMemoryException.
template <typename T>
class KxAllocator {
public:
    using value_type = T;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
                  "KxAllocate gives the default new alignment only");

    KxAllocator() noexcept = default;
    template <typename U> KxAllocator(const KxAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > max_size()) throw std::bad_array_new_length();
        return reinterpret_cast<T*>(KxAllocate(static_cast<int32_t>(n * sizeof(T))));
    }
    void deallocate(T* p, std::size_t) noexcept { delete[] reinterpret_cast<char*>(p); }
    std::size_t max_size() const noexcept {
        return static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) / sizeof(T);
    }

    template <typename U> bool operator==(const KxAllocator<U>&) const noexcept { return true; }
};

// Raises "Index %d out of range; array is from %d to %d" (source "KxVector").
[[noreturn]] void KxThrowVectorIndexError(int32_t lIndex, int32_t lBase, int64_t lSize);

template <typename T>
class KxVector : public std::vector<T, KxAllocator<T>> {
public:
    using Base = std::vector<T, KxAllocator<T>>;
    using Base::Base;

    KxVector() = default;
    KxVector(const KxVector&) = default;
    KxVector(KxVector&&) noexcept = default;
    KxVector& operator=(const KxVector&) = default;
    KxVector& operator=(KxVector&&) noexcept = default;
    virtual ~KxVector() = default;

    // Range-tested access with lIndex in base ... base + size - 1. The inherited operations
    // ([], at, insert, erase) stay 0-based.
    T& At(int32_t lIndex) { return (*this)[CheckIndex(lIndex)]; }
    const T& At(int32_t lIndex) const { return (*this)[CheckIndex(lIndex)]; }
    T& operator()(int32_t lIndex) { return At(lIndex); }
    const T& operator()(int32_t lIndex) const { return At(lIndex); }

    // Range-tested removal; the elements after it move down by one.
    void RemoveAt(int32_t lIndex) { Base::erase(this->begin() + CheckIndex(lIndex)); }

    int32_t GetBaseIndex() const { return m_base; }
    void SetBaseIndex(int32_t lBase) { m_base = lBase; }
    int32_t GetCount() const { return static_cast<int32_t>(this->size()); }

    // The stored form; only for KxVector<int32_t>. Write gives format 400; Read takes 400 and 530.
    void WriteAsArray(KxOutputStreamInterface& stream) const;
    void Read(KxInputStreamInterface& stream);

protected:
    // The 0-based position of lIndex, or the index error. The difference is taken unsigned, so
    // an index below the base fails the same test.
    std::size_t CheckIndex(int32_t lIndex) const {
        uint32_t offset = static_cast<uint32_t>(lIndex) - static_cast<uint32_t>(m_base);
        if (offset >= this->size())
            KxThrowVectorIndexError(lIndex, m_base, static_cast<int64_t>(this->size()));
        return offset;
    }

private:
    int32_t m_base = 0;
};

template <typename T> void KxVector<T>::WriteAsArray(KxOutputStreamInterface&) const {
    static_assert(sizeof(T) == 0, "the stored vector form exists for KxVector<int32_t> only");
}
template <typename T> void KxVector<T>::Read(KxInputStreamInterface&) {
    static_assert(sizeof(T) == 0, "the stored vector form exists for KxVector<int32_t> only");
}
template <> void KxVector<int32_t>::WriteAsArray(KxOutputStreamInterface& stream) const;
template <> void KxVector<int32_t>::Read(KxInputStreamInterface& stream);

namespace kxdetail {

// A copy of *p: its Clone when it has one (keeps the dynamic type), else its copy constructor.
template <typename T> T* CloneOf(const T* p) {
    if (p == nullptr) return nullptr;
    if constexpr (requires { p->Clone(); })
        return static_cast<T*>(p->Clone());
    else
        return new T(*p);
}

template <typename T> void DeleteSwallowing(T* p) noexcept {
    try {
        delete p;
    } catch (...) {
    }
}

} // namespace kxdetail

// Owns every non-null object it points to. Erasing and clearing delete; the inherited operations
// that drop pointers (resize, pop_back) do not, so owners erase before they shrink.
template <typename T, typename C = KxVector<T*>>
class KxPointerVector : public C {
public:
    using iterator = typename C::iterator;
    using const_iterator = typename C::const_iterator;
    static constexpr bool kxOwnsElements = true;

    KxPointerVector() = default;
    // lCount elements, each a clone of the prototype when one is given, else null.
    explicit KxPointerVector(int32_t lCount, int32_t lBase = 0, const T* pPrototype = nullptr) {
        this->SetBaseIndex(lBase);
        if (lCount <= 0) return;
        try {
            this->reserve(static_cast<std::size_t>(lCount));
            for (int32_t i = 0; i < lCount; ++i) C::push_back(kxdetail::CloneOf(pPrototype));
        } catch (...) {
            clear();
            throw;
        }
    }
    // Copies are deep, so that two vectors never own one object.
    KxPointerVector(const KxPointerVector& other) : C() {
        this->SetBaseIndex(other.GetBaseIndex());
        AppendClones(other);
    }
    KxPointerVector(KxPointerVector&& other) noexcept : C(std::move(static_cast<C&>(other))) {
        other.C::clear();
    }
    KxPointerVector& operator=(const KxPointerVector& other) {
        if (this != &other) {
            KxPointerVector copy(other);
            Swap(copy);
        }
        return *this;
    }
    KxPointerVector& operator=(KxPointerVector&& other) noexcept {
        if (this != &other) {
            clear();
            Swap(other);
        }
        return *this;
    }
    ~KxPointerVector() override {
        for (T* p : *this) kxdetail::DeleteSwallowing(p);
    }

    iterator erase(const_iterator first, const_iterator last) {
        for (const_iterator it = first; it != last; ++it) kxdetail::DeleteSwallowing(*it);
        return C::erase(first, last);
    }
    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }
    void clear() noexcept { erase(this->cbegin(), this->cend()); }
    void RemoveAt(int32_t lIndex) { erase(this->cbegin() + this->CheckIndex(lIndex)); }

    // Appends a copy of each of the other's objects, made with T's copy constructor. On failure
    // nothing is appended.
    void Copy(const KxPointerVector& other) {
        KX_TRY
            std::size_t n = other.size(), old = this->size();
            try {
                this->reserve(old + n);
                for (std::size_t i = 0; i < n; ++i) {
                    const T* p = other[i];
                    C::push_back(p != nullptr ? new T(*p) : nullptr);
                }
            } catch (...) {
                erase(this->cbegin() + old, this->cend());
                throw;
            }
        KX_CATCH_STD("Copy()", "KxPointerVector")
    }

    // Replaces every pointer by a clone of its object, so that a vector copied pointer by
    // pointer becomes independent of its source. On failure the pointers stay as they were.
    void InplaceCopy() {
        KX_TRY
            KxVector<T*> clones;
            try {
                clones.reserve(this->size());
                for (T* p : *this) clones.push_back(kxdetail::CloneOf<T>(p));
            } catch (...) {
                for (T* p : clones) kxdetail::DeleteSwallowing(p);
                throw;
            }
            for (std::size_t i = 0; i < clones.size(); ++i) (*this)[i] = clones[i];
        KX_CATCH_STD("InplaceCopy()", "KxPointerVector")
    }

    void Swap(KxPointerVector& other) noexcept {
        C::swap(other);
        int32_t base = this->GetBaseIndex();
        this->SetBaseIndex(other.GetBaseIndex());
        other.SetBaseIndex(base);
    }

private:
    void AppendClones(const KxPointerVector& other) {
        try {
            this->reserve(other.size());
            for (const T* p : other) C::push_back(kxdetail::CloneOf(p));
        } catch (...) {
            clear();
            throw;
        }
    }
};

// Predicates compare the elements (for pointer elements, the objects pointed to).
template <typename T>
struct KxPredicateLess {
    bool operator()(const T* a, const T* b) const { return *a < *b; }
    bool operator()(const T& a, const T& b) const { return a < b; }
};

template <typename T>
struct KxPredicateEqual {
    bool operator()(const T* a, const T* b) const { return *a == *b; }
    bool operator()(const T& a, const T& b) const { return a == b; }
};

// Calls a bool member function of T on the first element with the second as argument, which the
// member may take by pointer or by reference.
template <typename T, auto MemberFn>
struct KxPredicateMbrPtr {
    bool operator()(const T* a, const T* b) const {
        using F = decltype(MemberFn);
        if constexpr (std::is_invocable_v<F, const T*, const T*>)
            return std::invoke(MemberFn, a, b);
        else if constexpr (std::is_invocable_v<F, const T*, const T&>)
            return std::invoke(MemberFn, a, *b);
        else if constexpr (std::is_invocable_v<F, T*, T*>)
            return std::invoke(MemberFn, const_cast<T*>(a), const_cast<T*>(b));
        else
            return std::invoke(MemberFn, const_cast<T*>(a), *const_cast<T*>(b));
    }
    bool operator()(const T& a, const T& b) const { return (*this)(&a, &b); }
};

// Kept in ascending order by Less. C holds T or pointers to T (a KxVector or KxPointerVector).
template <typename T, typename C = KxPointerVector<T>, typename Less = KxPredicateLess<T>,
          typename Equal = KxPredicateEqual<T>>
class KxSortedVector : public C {
public:
    using value_type = typename C::value_type;

    KxSortedVector() = default;
    KxSortedVector(Less less, Equal equal) : m_less(less), m_equal(equal) {}

    // The index (counted from the base index) of the first element not less than *pElement;
    // *pFound tells whether that element exists and is equal to it.
    int32_t FindPosition(const T* pElement, bool* pFound) const {
        if (pElement == nullptr)
            KxGenerateException("Null pointer passed to FindPosition", "KxSortedVector");
        std::size_t first = LowerBound(pElement);
        if (pFound != nullptr)
            *pFound = first < this->size() && m_equal(ElementAt(first), pElement);
        return static_cast<int32_t>(first) + this->GetBaseIndex();
    }

    // Inserts before any elements equal to the new one; returns its index from the base index.
    // A pointer container takes ownership, also when the insertion fails.
    int32_t Insert(const value_type& element) {
        const T* key;
        if constexpr (std::is_pointer_v<value_type>)
            key = element;
        else
            key = &element;
        std::size_t position;
        try {
            position = static_cast<std::size_t>(FindPosition(key, nullptr) - this->GetBaseIndex());
            C::insert(this->cbegin() + position, element);
        } catch (...) {
            if constexpr (requires { C::kxOwnsElements; }) kxdetail::DeleteSwallowing(element);
            throw;
        }
        return static_cast<int32_t>(position) + this->GetBaseIndex();
    }

private:
    const T* ElementAt(std::size_t i) const {
        if constexpr (std::is_pointer_v<value_type>)
            return (*this)[i];
        else
            return &(*this)[i];
    }

    std::size_t LowerBound(const T* key) const {
        std::size_t first = 0, count = this->size();
        while (count > 0) {
            std::size_t half = count / 2;
            if (m_less(ElementAt(first + half), key)) {
                first += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
        return first;
    }

    Less m_less;
    Equal m_equal;
};
