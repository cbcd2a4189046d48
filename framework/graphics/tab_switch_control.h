#pragma once

// IVTabSwitchControl: a row (or column) of labelled tabs; a press selects the tab under the pointer and
// sets the value to index / (tabs - 1); the tab under the pointer is remembered for hover drawing.
// Subclasses replace DrawWidget and GetButtonForPoint to draw and hit-test their own tab shapes.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/slider_control.h"

#include <string>
#include <vector>

namespace iplug::igraphics {

enum class EVShape { Rectangle, EndsRounded, AllRounded };

// How the vector controls draw themselves.
struct IVStyle {
    bool drawFrame = true;
    float roundness = 0.f; // 0..1 of half the shorter side
    float frameThickness = 1.f;
    IColor offColor{255, 70, 70, 70};
    IColor onColor{255, 200, 200, 200};
    IColor frameColor = COLOR_BLACK;
    IColor highlightColor{30, 255, 255, 255};
    IText labelText{14.f, COLOR_WHITE};
};

class IVTabSwitchControl : public ISwitchControlBase {
public:
    IVTabSwitchControl(const IRECT& bounds, int paramIdx, std::vector<std::string> labels,
                       const char* label = "", const IVStyle& style = {}, EVShape shape = EVShape::Rectangle,
                       EDirection direction = EDirection::Horizontal);
    IVTabSwitchControl(const IRECT& bounds, IActionFunction action, std::vector<std::string> labels,
                       const char* label = "", const IVStyle& style = {}, EVShape shape = EVShape::Rectangle,
                       EDirection direction = EDirection::Horizontal);

    void Draw(IGraphics& g) override { DrawWidget(g); }
    // The default look: equal segments, the selected one filled, the hovered one highlighted.
    virtual void DrawWidget(IGraphics& g);
    // The tab at a point: equal segments of the rectangle, -1 outside.
    virtual int GetButtonForPoint(float x, float y) const;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseOver(float x, float y, const IMouseMod& mod) override;
    void OnMouseOut() override;

    int NButtons() const { return static_cast<int>(mTabLabels.size()); }
    const std::string& GetLabelForButton(int index) const;
    const IVStyle& GetStyle() const { return mStyle; }
    int GetMouseOverButton() const { return mMouseOverButton; }

protected:
    std::vector<std::string> mTabLabels;
    std::string mLabel;
    IVStyle mStyle;
    EVShape mShape;
    EDirection mDirection;
    int mMouseOverButton = -1;
};

} // namespace iplug::igraphics
