#pragma once

// Thrown when the user cancels a long modeller operation (a render, a mapping build): a plain
// record of one message buffer, copied bitwise. The system's throws leave the message empty;
// the catcher reads the document's progress state to tell what was abandoned.

struct QAbortException {
    char message[1024] = {};
};
static_assert(sizeof(QAbortException) == 1024);
