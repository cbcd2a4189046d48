#include "framework/editor_delegate.h"

#include <stdexcept>

namespace iplug {

IEditorDelegate::IEditorDelegate(int nParams) {
    if (nParams < 0)
        throw std::invalid_argument("A plug-in cannot have a negative number of parameters.");
    mParams.reserve(static_cast<std::size_t>(nParams));
    for (int i = 0; i < nParams; ++i)
        mParams.push_back(std::make_unique<IParam>());
}

// The editor goes before the parameters it may still point at.
IEditorDelegate::~IEditorDelegate() {
    if (mEditor)
        mEditor->CloseWindow();
    mEditor.reset();
}

IParam* IEditorDelegate::GetParam(int paramIdx) noexcept {
    return paramIdx >= 0 && paramIdx < NParams() ? mParams[static_cast<std::size_t>(paramIdx)].get()
                                                 : nullptr;
}

const IParam* IEditorDelegate::GetParam(int paramIdx) const noexcept {
    return paramIdx >= 0 && paramIdx < NParams() ? mParams[static_cast<std::size_t>(paramIdx)].get()
                                                 : nullptr;
}

void* IEditorDelegate::OpenWindow(void* parent) {
    if (mEditor || !mMakeGraphicsFunc)
        return nullptr;
    mEditor = mMakeGraphicsFunc();
    if (!mEditor)
        return nullptr;
    void* view = nullptr;
    try {
        view = mEditor->OpenWindow(parent);
        if (view != nullptr)
            LayoutUI(mEditor->GetGraphics());
    } catch (...) {
        if (view != nullptr)
            mEditor->CloseWindow();
        mEditor.reset();
        throw;
    }
    if (view == nullptr) {
        mEditor.reset();
        return nullptr;
    }
    OnUIOpen();
    return view;
}

void IEditorDelegate::CloseWindow() noexcept {
    if (!mEditor)
        return;
    // OnUIClose is the plug-in's last look at the editor; a failure there must not keep it open.
    try {
        OnUIClose();
    } catch (...) {
    }
    mEditor->CloseWindow();
    mEditor.reset();
}

void IEditorDelegate::LayoutUI(igraphics::IGraphics* graphics) {
    if (mLayoutFunc && graphics != nullptr)
        mLayoutFunc(graphics);
}

bool IEditorDelegate::EditorResizeFromUI(int viewWidth, int viewHeight, bool needsPlatformResize) {
    if (viewWidth <= 0 || viewHeight <= 0)
        return false;
    SetEditorSize(viewWidth, viewHeight);
    return !needsPlatformResize || ResizeHostWindow(viewWidth, viewHeight);
}

void IEditorDelegate::SendParameterValueFromDelegate(int paramIdx, double value, bool normalized) {
    const IParam* param = GetParam(paramIdx);
    if (!mEditor || param == nullptr)
        return;
    mEditor->SetParameterValueFromDelegate(paramIdx, normalized ? value : param->ToNormalized(value));
}

void IEditorDelegate::SetEditorSize(int width, int height) noexcept {
    mEditorWidth = width;
    mEditorHeight = height;
}

void IEditorDelegate::SetSizeConstraints(int minWidth, int maxWidth, int minHeight, int maxHeight) noexcept {
    mMinWidth = minWidth;
    mMaxWidth = maxWidth;
    mMinHeight = minHeight;
    mMaxHeight = maxHeight;
}

} // namespace iplug
