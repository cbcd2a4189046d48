// IGraphics: construction, controls, the frame tick, tooltips, scale and resources.

#include "framework/graphics/igraphics.h"

#include "framework/graphics/corner_resizer.h"
#include "framework/graphics/gradient_cache.h"
#include "framework/graphics/icontrol.h"
#include "framework/graphics/nanovg_gl_api.h"
#include "framework/graphics/popup_menu_control.h"
#include "nanovg.h"
#define NANOVG_GL3 1
#include "nanovg_gl.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace iplug::igraphics {
namespace {

// The panel AttachPanelBackground puts under everything.
class BackgroundPanel : public IControl {
public:
    BackgroundPanel(const IRECT& r, IPattern pattern) : IControl(r), mPattern(std::move(pattern)) {
        SetIgnoreMouse(true);
    }
    void Draw(IGraphics& g) override {
        g.PathClear();
        g.PathRect(GetRECT());
        g.PathFill(mPattern);
    }

private:
    IPattern mPattern;
};

constexpr auto kTooltipDelay = std::chrono::milliseconds(500);

} // namespace

IGraphics::IGraphics(IEditorDelegate* delegate, int w, int h, int fps, float scale,
                     std::unique_ptr<IRenderBackend> backend)
    : mDelegate(delegate), mBackend(std::move(backend)), mWidth(w), mHeight(h), mFPS(fps), mDrawScale(scale) {
    if (!mBackend)
        throw std::invalid_argument("IGraphics needs a render backend.");
    mBackend->MakeCurrent();
    mVG = nvgCreateGL3(NVG_ANTIALIAS);
    if (!mVG)
        throw std::runtime_error("Couldn't create the NanoVG context (OpenGL 3.3 is needed).");
    mGradients = std::make_unique<GradientCache>(mVG);
    mBackend->SetGraphics(this);
}

IGraphics::~IGraphics() {
    mBackend->MakeCurrent();
    mControls.clear();
    mPopupMenu.reset();
    mCornerResizer.reset();
    mGradients.reset();
    for (auto& [name, bitmap] : mBitmaps)
        nvgDeleteImage(mVG, bitmap.mImage);
    nvgDeleteGL3(mVG);
}

void* IGraphics::OpenWindow(void* parent) {
    void* view = mBackend->OpenWindow(parent);
    SetAllControlsDirty();
    return view;
}

void IGraphics::CloseWindow() noexcept {
    mCaptured = mMouseOver = mLastPressControl = nullptr;
    mBackend->CloseWindow();
}

void IGraphics::SetParameterValueFromDelegate(int paramIdx, double normalizedValue) {
    for (const auto& c : mControls) {
        if (c->GetParamIdx() == paramIdx)
            c->SetValueFromDelegate(normalizedValue);
    }
}

float IGraphics::GetScreenScale() const {
    return mBackend->ScreenScale();
}
int IGraphics::WindowWidth() const {
    return static_cast<int>(std::lround(float(mWidth) * mDrawScale));
}
int IGraphics::WindowHeight() const {
    return static_cast<int>(std::lround(float(mHeight) * mDrawScale));
}

void IGraphics::SetScaleConstraints(float lo, float hi) {
    mMinScale = std::min(lo, hi);
    mMaxScale = std::max(lo, hi);
}

void IGraphics::Resize(int w, int h, float scale, bool needsPlatformResize) {
    mWidth = w;
    mHeight = h;
    mDrawScale = std::clamp(scale, mMinScale, mMaxScale);
    if (mCornerResizer)
        mCornerResizer->PlaceInCorner(w, h);
    SetAllControlsDirty();
    if (needsPlatformResize && mOnPlatformResize)
        mOnPlatformResize(WindowWidth(), WindowHeight());
}

void IGraphics::AttachControlImpl(std::unique_ptr<IControl> control, int tag, const std::string& group) {
    control->SetAttachment(this, tag, group);
    // A linked control starts out showing its parameter.
    if (const IParam* param = control->GetParam())
        control->SetValueFromDelegate(param->GetNormalized());
    mControls.push_back(std::move(control));
    mControls.back()->OnAttached();
}

IControl* IGraphics::AttachPanelBackground(const IPattern& pattern) {
    auto panel = std::make_unique<BackgroundPanel>(GetBounds(), pattern);
    panel->SetAttachment(this, kNoTag, {});
    IControl* raw = panel.get();
    mControls.insert(mControls.begin(), std::move(panel));
    return raw;
}

ICornerResizerControl* IGraphics::AttachCornerResizer(EUIResizerMode, bool, const IColor& color,
                                                      const IColor& mouseOverColor, const IColor& dragColor,
                                                      float size) {
    mCornerResizer = std::make_unique<ICornerResizerControl>(IRECT(), size, color, mouseOverColor, dragColor);
    mCornerResizer->SetAttachment(this, kNoTag, {});
    mCornerResizer->PlaceInCorner(mWidth, mHeight);
    return mCornerResizer.get();
}

IPopupMenuControl* IGraphics::AttachPopupMenuControl(const IText& text, const IRECT& bounds) {
    mPopupMenu = std::make_unique<IPopupMenuControl>(text, bounds);
    mPopupMenu->SetAttachment(this, kNoTag, {});
    return mPopupMenu.get();
}

void IGraphics::CreatePopupMenu(IControl* caller, IPopupMenu& menu, const IRECT& bounds) {
    if (!mPopupMenu)
        AttachPopupMenuControl(IText(15.f));
    if (mPopupMenu->IsOpen())
        mPopupMenu->Close(-1);
    mPopupMenu->Open(caller, menu, bounds);
}

bool IGraphics::IsPopupMenuOpen() const {
    return mPopupMenu && mPopupMenu->IsOpen();
}

void IGraphics::ShowModalControl(std::unique_ptr<IControl> control) {
    CloseModalControl();
    control->SetAttachment(this, kNoTag, {});
    mModal = std::move(control);
    mModal->OnAttached();
    SetAllControlsDirty();
}

void IGraphics::CloseModalControl() {
    if (!mModal)
        return;
    if (mCaptured == mModal.get())
        mCaptured = nullptr;
    // Closing may happen inside the modal control's own handler: it is freed at the next frame tick.
    mRetiredModal = std::move(mModal);
    SetAllControlsDirty();
}

void IGraphics::RemoveControl(IControl* control) {
    if (mCaptured == control)
        mCaptured = nullptr;
    if (mMouseOver == control)
        mMouseOver = nullptr;
    if (mLastPressControl == control)
        mLastPressControl = nullptr;
    std::erase_if(mControls, [control](const auto& c) { return c.get() == control; });
}

void IGraphics::RemoveAllControls() {
    mCaptured = mMouseOver = mLastPressControl = nullptr;
    mControls.clear();
}

IControl* IGraphics::GetControl(int index) const {
    return index >= 0 && index < NControls() ? mControls[static_cast<std::size_t>(index)].get() : nullptr;
}

IControl* IGraphics::GetControlWithTag(int tag) const {
    if (tag == kNoTag)
        return nullptr;
    for (const auto& c : mControls) {
        if (c->GetTag() == tag)
            return c.get();
    }
    return nullptr;
}

void IGraphics::ForAllControls(const std::function<void(IControl&)>& func) {
    for (const auto& c : mControls)
        func(*c);
}

void IGraphics::ForControlInGroup(const std::string& group, const std::function<void(IControl&)>& func) {
    for (const auto& c : mControls) {
        if (c->GetGroup() == group)
            func(*c);
    }
}

void IGraphics::SetAllControlsDirty() {
    for (const auto& c : mControls)
        c->SetDirty(false);
    if (mCornerResizer)
        mCornerResizer->SetDirty(false);
}

bool IGraphics::OnFrame() {
    mRetiredModal.reset();
    Platform().Poll();
    IRECT region = mStaleArea;
    mStaleArea = {};
    auto collect = [&](IControl& c) {
        if (c.IsDirty())
            region = region.Union(c.GetRECT().GetPadded(kDirtyMargin));
    };
    // Every control is animated and asked, not only until the first dirty one: IsDirty advances the
    // controls' own animations. A hidden control that is dirty was just hidden: its area is redrawn.
    for (std::size_t i = 0; i < mControls.size(); ++i) {
        IControl* c = mControls[i].get();
        c->Animate();
        collect(*c);
    }
    if (mPopupMenu)
        collect(*mPopupMenu);
    if (mCornerResizer)
        collect(*mCornerResizer);
    if (mModal)
        collect(*mModal);
    const std::string before = mShownTooltip;
    UpdateTooltip();
    if (before != mShownTooltip)
        region = GetBounds(); // rare: the old box is wherever the pointer was
    if (region.Empty())
        return false;
    DrawRegion(region);
    return true;
}

void IGraphics::Draw() {
    DrawRegion(GetBounds());
}

void IGraphics::DrawRegion(const IRECT& region) {
    const float s = DeviceScale();
    const int pw = std::max(1, static_cast<int>(std::lround(float(mWidth) * s)));
    const int ph = std::max(1, static_cast<int>(std::lround(float(mHeight) * s)));
    mBackend->MakeCurrent();
    PixelRect px{0, 0, pw, ph};
    if (mBackend->PrepareFrame(pw, ph)) {
        const int x0 = std::clamp(static_cast<int>(std::floor(region.L * s)), 0, pw);
        const int y0 = std::clamp(static_cast<int>(std::floor(region.T * s)), 0, ph);
        const int x1 = std::clamp(static_cast<int>(std::ceil(region.R * s)), 0, pw);
        const int y1 = std::clamp(static_cast<int>(std::ceil(region.B * s)), 0, ph);
        if (x1 <= x0 || y1 <= y0)
            return;
        px = {x0, y0, x1 - x0, y1 - y0};
    }
    // Controls that may draw into the region: their rectangles grown by the margin reach it.
    const IRECT reach = IRECT(float(px.x), float(px.y), float(px.x + px.w), float(px.y + px.h))
                            .GetScaled(1.f / s)
                            .GetPadded(kDirtyMargin);
    mBackend->BeginFrame(px);
    nvgBeginFrame(mVG, float(px.w), float(px.h), 1.f);
    mFrameOffsetX = float(px.x);
    mFrameOffsetY = float(px.y);
    nvgTranslate(mVG, -mFrameOffsetX, -mFrameOffsetY);
    nvgScale(mVG, s, s);
    mInFrame = true;
    mAlphaStack.assign(1, 1.f);
    auto drawOne = [&](IControl& c) {
        mPath.Clear();
        nvgSave(mVG);
        c.Draw(*this);
        nvgRestore(mVG);
        c.SetClean();
    };
    for (std::size_t i = 0; i < mControls.size(); ++i) {
        IControl& c = *mControls[i];
        if (!c.IsHidden() && c.GetRECT().Intersects(reach))
            drawOne(c);
        else if (c.IsHidden())
            c.SetClean();
    }
    if (mCornerResizer)
        drawOne(*mCornerResizer);
    if (mPopupMenu && mPopupMenu->IsOpen())
        drawOne(*mPopupMenu);
    else if (mPopupMenu)
        mPopupMenu->SetClean();
    if (mModal)
        drawOne(*mModal);
    DrawTooltip();
    mInFrame = false;
    nvgEndFrame(mVG);
    mBackend->EndFrame();
}

void IGraphics::EnableTooltips(bool enable) {
    mTooltipsEnabled = enable;
    if (!enable)
        mShownTooltip.clear();
}

std::string IGraphics::GetShownTooltip() const {
    return mShownTooltip;
}

void IGraphics::UpdateTooltip() {
    mShownTooltip.clear();
    if (!mTooltipsEnabled || mCaptured || !mMouseOver || !mPointerInside || IsPopupMenuOpen() || mModal)
        return;
    // Over and out follow moves only: after a menu choice, or with an overlay shown under a still
    // pointer, the control last entered may no longer be the one under the pointer.
    if (GetMouseControl(mLastX, mLastY) != mMouseOver)
        return;
    if (Now() - mPointerRestStart >= kTooltipDelay)
        mShownTooltip = mMouseOver->GetTooltip();
}

void IGraphics::DrawTooltip() {
    if (mShownTooltip.empty())
        return;
    const IText text(14.f, IColor(255, 230, 230, 230), {}, EAlign::Near, EVAlign::Middle);
    const float w = MeasureTextWidth(text, mShownTooltip.c_str()) + 16.f;
    const float h = 24.f;
    float x = std::min(mLastX + 12.f, float(mWidth) - w - 2.f);
    float y = mLastY + 20.f;
    if (y + h > float(mHeight))
        y = mLastY - h - 8.f;
    x = std::max(2.f, x);
    const IRECT box = IRECT::MakeXYWH(x, y, w, h);
    FillRoundRect(IColor(240, 24, 25, 27), box, 5.f);
    DrawRoundRect(IColor(255, 60, 62, 66), box, 5.f);
    DrawText(text, mShownTooltip.c_str(), box.GetHPadded(-8.f));
}

void IGraphics::SetMouseCursor(ECursor cursor) {
    mCursor = cursor;
    Platform().SetCursor(cursor);
}

IPlatform& IGraphics::Platform() {
    return mPlatformOverride ? *mPlatformOverride : mBackend->Platform();
}

std::filesystem::path IGraphics::FindResource(const std::string& fileName) const {
    const std::filesystem::path p(fileName);
    std::error_code ec;
    if (p.is_absolute())
        return std::filesystem::exists(p, ec) ? p : std::filesystem::path();
    for (const auto& folder : mResourcePaths) {
        if (std::filesystem::exists(folder / p, ec))
            return folder / p;
    }
    return {};
}

bool IGraphics::LoadFont(const std::string& fontID, const std::string& fileName) {
    if (HasFont(fontID))
        return true;
    const std::filesystem::path path = FindResource(fileName);
    if (path.empty())
        return false;
    const int handle = nvgCreateFont(mVG, fontID.c_str(), path.string().c_str());
    if (handle < 0)
        return false;
    mFonts[fontID] = handle;
    if (mFirstFont.empty())
        mFirstFont = fontID;
    return true;
}

int IGraphics::FontHandle(const std::string& id) const {
    auto it = mFonts.find(id.empty() ? mFirstFont : id);
    if (it == mFonts.end())
        it = mFonts.find(mFirstFont);
    return it == mFonts.end() ? -1 : it->second;
}

IBitmap IGraphics::LoadBitmap(const std::string& fileName, int nStates) {
    if (auto it = mBitmaps.find(fileName); it != mBitmaps.end())
        return it->second;
    const std::filesystem::path path = FindResource(fileName);
    if (path.empty())
        return {};
    mBackend->MakeCurrent();
    const int image = nvgCreateImage(mVG, path.string().c_str(), NVG_IMAGE_REPEATX | NVG_IMAGE_REPEATY);
    if (image == 0)
        return {};
    IBitmap bitmap;
    bitmap.mImage = image;
    nvgImageSize(mVG, image, &bitmap.mW, &bitmap.mH);
    bitmap.mNStates = std::max(1, nStates);
    bitmap.mName = fileName;
    mBitmaps[fileName] = bitmap;
    return bitmap;
}

IBitmap IGraphics::LoadBitmapFromPixels(const std::string& name, int w, int h, const unsigned char* rgba) {
    if (auto it = mBitmaps.find(name); it != mBitmaps.end())
        return it->second;
    if (w <= 0 || h <= 0 || !rgba)
        return {};
    mBackend->MakeCurrent();
    IBitmap bitmap;
    bitmap.mImage = nvgCreateImageRGBA(mVG, w, h, NVG_IMAGE_REPEATX | NVG_IMAGE_REPEATY, rgba);
    if (bitmap.mImage == 0)
        return {};
    bitmap.mW = w;
    bitmap.mH = h;
    bitmap.mName = name;
    mBitmaps[name] = bitmap;
    return bitmap;
}

ISVG IGraphics::LoadSVG(const std::string& name, const char* text, std::size_t length, const char*, float) {
    if (auto it = mSVGs.find(name); it != mSVGs.end())
        return it->second;
    if (!text)
        return {};
    try {
        ISVG svg(std::make_shared<const SVGDocument>(ParseSvgDocument(std::string_view(text, length))));
        mSVGs[name] = svg;
        return svg;
    } catch (const std::invalid_argument&) {
        return {};
    }
}

ISVG IGraphics::LoadSVG(const std::string& fileName) {
    if (auto it = mSVGs.find(fileName); it != mSVGs.end())
        return it->second;
    const std::filesystem::path path = FindResource(fileName);
    if (path.empty())
        return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    return LoadSVG(fileName, s.data(), s.size());
}

} // namespace iplug::igraphics
