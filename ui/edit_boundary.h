#pragma once

// The one boundary every edit started from the editor's keys and inspector runs in: an exception from
// the operation cancels the open gesture (the session goes back to its notes from before the gesture)
// and is reported as one failure notice, saying whether the document had changed meanwhile, so the
// plug-in publishes what is left. The exception goes no further. The operation itself calls the
// plug-in's edited-document path after a successful edit; the boundary does not. Main thread.

namespace cv {

// Session: an edit session (editCount, cancelGesture). Reporter: ReportUiEditFailure(bool). Returns
// true when the operation completed, false when it threw.
template <class Session, class Operation, class Reporter>
bool runUiEditBoundary(Session& session, Operation&& operation, Reporter& reporter) {
    const auto editsBefore = session.editCount();
    try {
        operation();
        return true;
    } catch (...) {
        bool changed = true; // when even the cancel fails, assume the worst: republish
        try {
            session.cancelGesture();
            changed = session.editCount() != editsBefore;
        } catch (...) {
        }
        try {
            reporter.ReportUiEditFailure(changed);
        } catch (...) {
        }
        return false;
    }
}

} // namespace cv
