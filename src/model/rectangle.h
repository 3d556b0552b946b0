#pragma once

#include "model/object.h"
#include "model/string_array.h"

#include <vector>

// A screen rectangle: position, then width and height. Copies take the numbers only from a
// valid source.
class QNL_rectangle : public QNL_object {
public:
    QNL_rectangle() noexcept = default;
    // An invalid source gives the all-zero rectangle.
    QNL_rectangle(const QNL_rectangle& source) noexcept;
    // An invalid source leaves this rectangle as it was.
    QNL_rectangle& operator=(const QNL_rectangle& source) noexcept;
    ~QNL_rectangle() override = default;

    // Copies the source rectangle.
    int Assign(const QNL_rectangle& source);
    // Fills a zero width or height from the source; the position stays.
    int Merge(const QNL_rectangle& source);

    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Rectangles in a table that grows by the growth step. Asking for an index outside the
// table gives the all-zero default rectangle instead of failing.
class QNL_rectangleArray : public QNL_array {
public:
    QNL_rectangleArray();

    int CleanUp(int deep = 1) override;
    int CheckConsistency(int deep = 1) override;

    // The reference stays valid until the next Add or CleanUp.
    const QNL_rectangle& GetRectangle(int index) const;
    // An invalid source adds an all-zero rectangle.
    int Add(const QNL_rectangle& rectangle);

private:
    int Grow();

    std::vector<QNL_rectangle> table;
    QNL_rectangle defaultRectangle;
};

// The free-standing comments of a submodel's drawing: comment i is the text i shown in the
// rectangle i. Add keeps the two arrays in step.
class QNL_screenComments : public QNL_object {
public:
    QNL_screenComments() = default;

    // Adds both or neither; returns the code of the array that refused.
    int Add(const QNL_rectangle& where, const char* text);
    int GetCount() const { return rectangles.GetCount(); }

    // The text boxes: each one's rectangle and text.
    QNL_rectangleArray& GetRectangles() { return rectangles; }
    const QNL_rectangleArray& GetRectangles() const { return rectangles; }
    QNL_stringArray& GetTexts() { return texts; }
    const QNL_stringArray& GetTexts() const { return texts; }

private:
    QNL_rectangleArray rectangles;
    QNL_stringArray texts;
};
