// The request to switch content, raised by running content and served by the
// application at the end of the frame.
#pragma once

constexpr int OV_NEXT_CONTENT_SIZE = 128;

// Stores the next content name (at most 127 characters kept) and raises the
// change flag. An empty name asks the application to end.
void OvRequestContentChange(const char* name);
bool OvContentChangeRequested();
void OvClearContentChange();

// The process-wide next-content name; always terminated.
const char* OvNextContentName();
void OvClearNextContentName();
