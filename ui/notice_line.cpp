#include "ui/notice_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace cv::ui {

int NoticeRank(NoticeKind kind) {
    switch (kind) {
    case NoticeKind::Status:
    case NoticeKind::Success:
        return 2;
    case NoticeKind::Warning:
        return 3;
    case NoticeKind::Error:
        return 4;
    case NoticeKind::Progress:
        return 1;
    }
    return 2;
}

const char* NoticeBadge(NoticeKind kind) {
    switch (kind) {
    case NoticeKind::Status:
        return "Info";
    case NoticeKind::Success:
        return "Done";
    case NoticeKind::Warning:
        return "Notice";
    case NoticeKind::Error:
        return "Error";
    case NoticeKind::Progress:
        return "Working";
    }
    return "Info";
}

float Smoothstep(float x) {
    const float t = std::clamp(x, 0.f, 1.f);
    return t * t * (3.f - 2.f * t);
}

std::optional<NoticeKind> NoticeLine::ShownKind() const {
    return mVisible ? std::optional<NoticeKind>(mCurrent.kind) : std::nullopt;
}

void NoticeLine::Show(const char* text, NoticeKind kind, int durationMs, TimePoint now) {
    Notice notice{text ? text : "", kind, durationMs};
    if (!mVisible) {
        Present(std::move(notice), now);
        return;
    }
    // A notice that is fading out after a dismissal is no longer the one showing: the same text raised
    // again comes back rather than vanishing with it.
    if (!Dismissing() && mCurrent.kind == kind && mCurrent.text == notice.text)
        return;
    if ((mCurrent.kind == NoticeKind::Progress && kind != NoticeKind::Error) ||
        NoticeRank(mCurrent.kind) > NoticeRank(kind)) {
        Queue(std::move(notice));
        return;
    }
    Present(std::move(notice), now);
    if (kind == NoticeKind::Error)
        mWaiting.reset();
}

void NoticeLine::ShowProgress(const char* text, float fraction, bool cancellable, TimePoint now) {
    if (mVisible && mCurrent.kind == NoticeKind::Error)
        return;
    const bool progressShowing = mVisible && mCurrent.kind == NoticeKind::Progress && !Dismissing();
    // A notice the user is dismissing is not parked to come back.
    if (mVisible && mCurrent.kind != NoticeKind::Progress && !Dismissing())
        Queue(mCurrent);
    mCurrent = Notice{text && *text ? text : "Working", NoticeKind::Progress, 0};
    mFraction = std::isnan(fraction) ? 0.f : std::clamp(fraction, 0.f, 1.f);
    mCancellable = cancellable;
    mVisible = true;
    if (!progressShowing)
        Start(Anim::FadeIn, kNoticeFadeInMs, now);
}

void NoticeLine::Dismiss(TimePoint now) {
    if (!mVisible || Dismissing())
        return;
    Start(Anim::Dismiss, kNoticeDismissMs, now);
}

bool NoticeLine::Advance(TimePoint now) {
    if (mAnim == Anim::None)
        return false;
    if (Elapsed(now) >= mAnimMs) {
        if (mAnim == Anim::FadeIn)
            mAnim = Anim::None;
        else
            PresentWaitingOrHide(now);
    }
    return true;
}

float NoticeLine::Opacity(TimePoint now) const {
    if (!mVisible)
        return 0.f;
    const auto t = static_cast<float>(Elapsed(now));
    switch (mAnim) {
    case Anim::Dismiss:
        return 1.f - Smoothstep(t / kNoticeDismissMs);
    case Anim::Timed:
        return std::min(Smoothstep(t / kNoticeFadeInMs),
                        Smoothstep((static_cast<float>(mAnimMs) - t) / kNoticeFadeOutMs));
    case Anim::FadeIn: {
        const float rest = 1.f - std::clamp(t / kNoticeFadeInMs, 0.f, 1.f);
        return 1.f - rest * rest * rest;
    }
    case Anim::None:
        break;
    }
    return 1.f;
}

void NoticeLine::Queue(Notice notice) {
    if (notice.text.empty())
        return;
    if (mWaiting && NoticeRank(mWaiting->kind) > NoticeRank(notice.kind))
        return;
    mWaiting = std::move(notice);
}

void NoticeLine::Present(Notice notice, TimePoint now) {
    mCurrent = std::move(notice);
    mFraction = -1.f;
    mCancellable = false;
    mAnim = Anim::None;
    if (mCurrent.text.empty()) {
        mVisible = false;
        return;
    }
    mVisible = true;
    if (mCurrent.durationMs < 1)
        Start(Anim::FadeIn, kNoticeFadeInMs, now);
    else
        Start(Anim::Timed, mCurrent.durationMs, now);
}

void NoticeLine::PresentWaitingOrHide(TimePoint now) {
    if (mWaiting) {
        Notice next = std::move(*mWaiting);
        mWaiting.reset();
        Present(std::move(next), now);
        return;
    }
    mAnim = Anim::None;
    mVisible = false;
}

void NoticeLine::Start(Anim anim, int durationMs, TimePoint now) {
    mAnim = anim;
    mAnimMs = durationMs;
    mAnimStart = now;
}

double NoticeLine::Elapsed(TimePoint now) const {
    return std::chrono::duration<double, std::milli>(now - mAnimStart).count();
}

} // namespace cv::ui
