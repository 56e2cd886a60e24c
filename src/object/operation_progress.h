#pragma once

// OperationProgress is where a long operation (a mapping build, a render) reports how far it
// has come and learns whether the user wants it abandoned. The current document provides it,
// so the layers below the document report without knowing one.

#include <cstdint>

class OperationProgress {
public:
    virtual ~OperationProgress() = default;

    // Announces the operation's stage code and its percentage done to those who follow the
    // operation, after clearing any earlier abort request.
    virtual void AnnounceProgress(std::int32_t stage, std::int32_t percent) = 0;

    // True when a listener asked, during the last announcement, for the operation to be
    // abandoned; the operation then throws QAbortException.
    virtual bool IsAbortRequested() const = 0;

    // Ends the announcements: stage and percentage 0, no abort request.
    virtual void EndProgress() = 0;

protected:
    OperationProgress() = default;
    OperationProgress(const OperationProgress&) = default;
    OperationProgress& operator=(const OperationProgress&) = default;
};

// Where long operations report now (the current document's); null when nowhere.
OperationProgress* CurrentOperationProgress();

// Makes progress (null for none) the current one; the document layer calls it when the
// current document changes.
void SetCurrentOperationProgress(OperationProgress* progress);
