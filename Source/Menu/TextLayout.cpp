// A text's string and its layout into lines.
#include "Menu/Text.h"

#include "Menu/UserInterface.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>

namespace UserInterface {

Text::Text(D3D::Device::SwapChain* ownerChain, UIFont::Face* textFace, int32_t newLayer, int32_t wrap,
           int32_t lines, float target, float speed)
    : Widget(ownerChain, target, speed), maxLines(lines), wrapWidth(wrap), face(textFace)
{
    if (wchar_t* chars = buffer.data())
        chars[0] = 0;
    addChild(newLayer);
}

Text::~Text() = default;

void Text::setText(const String& newText)
{
    wchar_t* chars = buffer.data();
    if (!chars)
        return;
    const int32_t length = std::min(newText.buffer() ? newText.length() : 0, bufferSize - 1);
    for (int32_t i = 0; i < length; ++i)
        chars[i] = newText.buffer()[i];
    chars[length] = 0;
    changed = 1;
    calc();
}

wchar_t Text::getChar(int32_t index, int32_t& advance)
{
    wchar_t* chars = buffer.data();
    if (!face || !chars || index < 0 || index >= bufferSize)
        return 0;
    const wchar_t c = chars[index];
    const UIFont::Face::TexCoord* g = findGlyph(c);
    if (!g)
        return 0;
    advance = glyphAdvance(*g);
    return c;
}

const UIFont::Face::TexCoord* Text::findGlyph(wchar_t c, int32_t* layerIndex)
{
    if (!face || !c)
        return nullptr;
    const UIFont::Face::TexCoord* g = face->glyph(c, layerIndex);
    if (!g) {
        face->addGlyph(c);
        g = face->glyph(c, layerIndex);
    }
    return g;
}

int32_t Text::glyphAdvance(const UIFont::Face::TexCoord& g) const
{
    return face->fixedPitch ? int32_t(face->fixedAdvance) : int32_t(g.width);
}

int32_t Text::advanceAt(int32_t index)
{
    int32_t advance = 0;
    const wchar_t c = getChar(index, advance);
    return c && c != L'\r' ? advance : 0;
}

void Text::addFormatting(int32_t position, uint32_t kind)
{
    if (Formatting* f = formatting.at(formattingCount)) {
        f->position = uint16_t(position);
        f->kind = kind;
        ++formattingCount;
    }
}

void Text::addLine(int32_t width)
{
    if (int32_t* w = lineWidths.at(lineCount)) {
        *w = width;
        ++lineCount;
    }
}

void Text::calc()
{
    CRASH_TRACE();
    wchar_t* chars = buffer.data();
    if (!face || !chars || !(changed || (root && root->relayout)))
        return;
    int32_t length = 0;
    while (length < bufferSize - 1 && chars[length])
        ++length;
    chars[length] = 0;

    // The full stop the ellipsis is made of.
    const UIFont::Face::TexCoord* fullStop = findGlyph(L'.');
    const int32_t dot = fullStop ? glyphAdvance(*fullStop) : 0;

    formattingCount = 0;
    lineCount = 0;
    int32_t lineWidth = 0;
    int32_t lineChars = 0;        // characters with a glyph on the line
    int32_t lineStart = 0;        // the first character the line measures
    int32_t lastBreak = -1;       // the line's last space or newline
    int32_t widthAtBreak = 0;     // the line's width before it
    int32_t widthAfterBreak = -1; // what came after it; -1 without one
    int32_t charsAfterBreak = 0;
    int32_t maxWidth = 0;
    bool truncated = false;
    bool cutAtBreak = false;
    int32_t cut = 0;
    for (int32_t i = 0; i < length && !truncated; ++i) {
        int32_t advance = 0;
        const wchar_t c = getChar(i, advance);
        if (!c)
            continue;
        if (c == L'\r') {
            addFormatting(i, Formatting::hidden);
            continue;
        }
        if (widthAfterBreak >= 0) {
            widthAfterBreak += advance;
            ++charsAfterBreak;
        }
        if (c == L' ' || c == L'\n') {
            lastBreak = i;
            widthAfterBreak = 0;
            charsAfterBreak = 0;
            widthAtBreak = lineWidth;
        }
        lineWidth += advance;
        ++lineChars;
        // Lines end only in wrapped texts: when the width reaches the wrap
        // width, or at a newline. What a break carries over to the next line
        // is measured again: it may reach the wrap width itself.
        bool newline = c == L'\n';
        while (wrapWidth > 0 && (newline || lineWidth >= wrapWidth)) {
            newline = false;
            // A character wider than the wrap width stands alone on its line
            // rather than after an empty one.
            if (lastBreak < 0 && lineChars <= 1)
                break;
            if (lineCount == maxLines - 1) {
                // The last line allowed: it ends here, and the rest is cut.
                truncated = true;
                cutAtBreak = lastBreak >= 0;
                cut = cutAtBreak ? lastBreak : i;
                const int32_t width = cutAtBreak ? widthAtBreak : lineWidth - advance;
                addLine(width);
                maxWidth = std::max(maxWidth, width);
                break;
            }
            if (lastBreak < 0) {
                // No break on the line: it ends before this character, which
                // starts the next one.
                addFormatting(i, Formatting::newLine);
                addLine(lineWidth - advance);
                maxWidth = std::max(maxWidth, lineWidth - advance);
                lineWidth = advance;
                lineChars = 1;
                lineStart = i;
            } else {
                // The break character is not drawn; the next line starts there.
                addFormatting(lastBreak, Formatting::hidden);
                addFormatting(lastBreak, Formatting::newLine);
                addLine(widthAtBreak);
                maxWidth = std::max(maxWidth, widthAtBreak);
                lineWidth = widthAfterBreak;
                lineChars = charsAfterBreak;
                lineStart = lastBreak + 1;
                lastBreak = -1;
                widthAfterBreak = -1;
            }
        }
    }

    if (!truncated) {
        addLine(lineWidth);
        maxWidth = std::max(maxWidth, lineWidth);
        charCount = length;
    } else {
        charCount = cut;
        int32_t last = lineCount > 0 ? *lineWidths.at(lineCount - 1) : 0;
        // A line cut at a break takes more of the text while it stays
        // narrower than the widest line.
        if (cutAtBreak)
            while (charCount < length && chars[charCount] != L'\n' && chars[charCount] != L'\r') {
                const int32_t advance = advanceAt(charCount);
                if (last + advance >= maxWidth)
                    break;
                last += advance;
                ++charCount;
            }
        // Three full stops over the line's last characters: over the last
        // two and the one after them when those two are as wide as the
        // stops, else over the last three. A line of fewer characters gets
        // only as many stops as it has characters: none lands before the
        // text or on the line above.
        const int32_t dots = 3 * dot;
        const int32_t available = charCount - lineStart;
        int32_t replaced = (available >= 1 ? advanceAt(charCount - 1) : 0) +
                           (available >= 2 ? advanceAt(charCount - 2) : 0);
        if (replaced >= dots)
            ++charCount;
        else if (available >= 3)
            replaced += advanceAt(charCount - 3);
        const int32_t first = std::max(charCount - 3, lineStart);
        last += (charCount - first) * dot - replaced;
        if (lineCount > 0)
            *lineWidths.at(lineCount - 1) = last;
        for (int32_t p = first; p < charCount; ++p)
            addFormatting(p, Formatting::fullStop);
    }
    // The draw walks the records in order of position; a carriage return
    // after a break comes before the break's records.
    std::stable_sort(formatting.data(), formatting.data() + formattingCount,
                     [](const Formatting& a, const Formatting& b) { return a.position < b.position; });

    if (attachedTo) {
        const Rect base = attachedTo->getRect();
        boxLeft = float(x + base.left);
        boxTop = float(y + base.top);
    } else {
        boxLeft = float(x - 1);
        boxTop = float(y - 1);
    }
    boxRight = float(maxWidth) + boxLeft + 1.0f;
    boxBottom = face->lineHeight * float(lineCount) + boxTop + 1.0f;
    centreX = (boxLeft + boxRight) * 0.5f;
    centreY = (boxTop + boxBottom) * 0.5f;
    changed = 0;
}

float Text::lineOffset(int32_t line)
{
    if (wrapWidth < 0 || line < 0 || line >= lineCount)
        return 0.0f;
    const float width = float(*lineWidths.at(line));
    if (alignment == alignCentre)
        return roundHalfDown((boxRight - boxLeft - 1.0f - width) * 0.5f);
    if (alignment == alignRight)
        return boxRight - boxLeft - width;
    return 0.0f;
}

Rect Text::getRect()
{
    return {int32_t(boxLeft), int32_t(boxTop), int32_t(boxRight), int32_t(boxBottom)};
}

Size Text::getSize()
{
    return {int32_t(boxRight) - int32_t(boxLeft), int32_t(boxBottom) - int32_t(boxTop)};
}

}
