#pragma once

// The notice line's rules as a pure state machine under a clock the caller passes in: one current
// notice and one waiting slot, the kinds' ranks, timed notices that end by themselves, progress that
// parks a lower notice until it ends, the fades and the opacity they give. NoticeControl (tag 17) draws
// it on the graphics context's clock; tests drive it with any time points. Main thread.
//
// Kinds, ranks and the times the plug-in passes: status and success 4 s (rank 2), warning 8 s (3),
// error until dismissed (4), progress until replaced or dismissed (1). A duration below 1 ms stays.

#include "framework/graphics/igraphics.h"
#include "plugin/editor_controls.h"

#include <optional>
#include <string>

namespace cv::ui {

using iplug::igraphics::TimePoint;

inline constexpr int kNoticeFadeInMs = 110;
inline constexpr int kNoticeFadeOutMs = 130; // the end of a timed notice, inside its duration
inline constexpr int kNoticeDismissMs = 90;
inline constexpr float kNoticeRise = 7.f; // design units the box sits lower while transparent

// 2 for status and success, 3 warning, 4 error, 1 progress.
int NoticeRank(NoticeKind kind);
// "Info", "Done", "Notice", "Error", "Working".
const char* NoticeBadge(NoticeKind kind);
// 3x^2 - 2x^3 for x clamped to 0..1.
float Smoothstep(float x);

struct Notice {
    std::string text;
    NoticeKind kind = NoticeKind::Status;
    int durationMs = 0;
};

class NoticeLine {
public:
    // A status, success, warning or error notice (null text counts as empty). Shown at once while the
    // line is hidden; nothing for the very notice already showing (its time is not restarted); waits
    // behind a progress notice (unless an error) or a notice of higher rank; otherwise replaces the
    // current one, and an error also drops the waiting notice.
    void Show(const char* text, NoticeKind kind, int durationMs, TimePoint now);
    // The progress notice (null or empty text: "Working"; fraction clamped to 0..1, NaN as 0). Nothing
    // over an error; a status, success or warning notice showing is parked in the waiting slot and
    // returns after the progress. Fades in unless it updates a progress notice that is showing.
    void ShowProgress(const char* text, float fraction, bool cancellable, TimePoint now);
    // Fades the current notice out over 90 ms, then shows the waiting one or hides. Once: nothing while
    // a dismissal runs or the line is hidden.
    void Dismiss(TimePoint now);
    // Brings the line to now: a timed notice whose time is up, or a finished dismissal, gives way to the
    // waiting notice or hides the line; a finished fade-in ends. True while a fade or a timed notice ran
    // before this call (the line may need drawing: its opacity says whether it looks different).
    bool Advance(TimePoint now);

    bool Visible() const { return mVisible; }
    std::optional<NoticeKind> ShownKind() const;
    const Notice& Current() const { return mCurrent; }
    const std::optional<Notice>& Waiting() const { return mWaiting; }
    float Fraction() const { return mFraction; } // -1 without a bar
    bool Cancellable() const { return mCancellable; }
    bool Dismissing() const { return mAnim == Anim::Dismiss; }

    // 0 hidden. Dismissing 1 - s(p); a timed notice min(s(t / 110), s((d - t) / 130)) for t ms into
    // its d; a fade-in 1 - (1 - p)^3; otherwise 1 (s the smoothstep, p the fade's progress).
    float Opacity(TimePoint now) const;
    // How far the box sits below its place: (1 - opacity) x 7.
    float Drop(TimePoint now) const { return (1.f - Opacity(now)) * kNoticeRise; }

private:
    enum class Anim { None, FadeIn, Timed, Dismiss };

    void Queue(Notice notice);
    void Present(Notice notice, TimePoint now);
    void PresentWaitingOrHide(TimePoint now);
    void Start(Anim anim, int durationMs, TimePoint now);
    // Milliseconds since the running animation started.
    double Elapsed(TimePoint now) const;

    Notice mCurrent;
    std::optional<Notice> mWaiting;
    float mFraction = -1.f;
    bool mCancellable = false;
    bool mVisible = false;
    Anim mAnim = Anim::None;
    TimePoint mAnimStart{};
    int mAnimMs = 0;
};

} // namespace cv::ui
