#include "model/rectangle.h"

#include <climits>
#include <new>
#include <stdexcept>

// ---------------------------------------------------------------------------------------
// QNL_rectangle

QNL_rectangle::QNL_rectangle(const QNL_rectangle& source) noexcept : QNL_object() {
    if (source.IsValid()) {
        x = source.x;
        y = source.y;
        width = source.width;
        height = source.height;
    }
}

QNL_rectangle& QNL_rectangle::operator=(const QNL_rectangle& source) noexcept {
    Assign(source);
    return *this;
}

int QNL_rectangle::Assign(const QNL_rectangle& source) {
    if (!source.IsValid()) return -567;
    x = source.x;
    y = source.y;
    width = source.width;
    height = source.height;
    return 0;
}

int QNL_rectangle::Merge(const QNL_rectangle& source) {
    if (!source.IsValid()) return -567;
    if (width == 0) width = source.width;
    if (height == 0) height = source.height;
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_rectangleArray

QNL_rectangleArray::QNL_rectangleArray() : QNL_array(DEFAULT_GROWTH) {}

int QNL_rectangleArray::CleanUp(int deep) {
    std::vector<QNL_rectangle>().swap(table);
    return QNL_array::CleanUp(deep);
}

int QNL_rectangleArray::CheckConsistency(int) {
    return ApplyTableRule(table.size());
}

const QNL_rectangle& QNL_rectangleArray::GetRectangle(int index) const {
    if (index < 0 || index >= size || static_cast<std::size_t>(index) >= table.size())
        return defaultRectangle;
    return table[static_cast<std::size_t>(index)];
}

int QNL_rectangleArray::Grow() {
    if (!IsValid()) return -567;
    const long long newSize = static_cast<long long>(size) + growth;
    if (newSize > INT_MAX) return -42;
    try {
        // New elements are all-zero; old ones are copied, which keeps only valid numbers.
        table.resize(static_cast<std::size_t>(newSize));
    } catch (const std::exception&) {
        return -42;
    }
    size = static_cast<int>(newSize);
    return 0;
}

int QNL_rectangleArray::Add(const QNL_rectangle& rectangle) {
    if (!IsValid()) return -567;
    // Taken before growing: the source may be an element of this very table.
    const QNL_rectangle copy(rectangle);
    if (count == size) {
        const int result = Grow();
        if (result != 0) return result;
    }
    table[static_cast<std::size_t>(count)] = copy;
    ++count;
    return 0;
}

// ---------------------------------------------------------------------------------------
// QNL_screenComments

int QNL_screenComments::Add(const QNL_rectangle& where, const char* text) {
    int result = texts.Add(text);
    if (result != 0) return result;
    result = rectangles.Add(where);
    if (result != 0) texts.Delete(texts.GetCount() - 1);
    return result;
}
