// The board's clock with the language's own weekday look: a language content
// file may hold a clump record "wday_digit" whose first material layer (its
// texture) replaces the weekday digit's.
#pragma once

#include <string>

class OvDatabase;
class OvGLTexture;
class OvLogObj;

// The texture of the first material layer of the record named `name`, or of
// the first clump below it that has one; null with `why` set otherwise.
OvGLTexture* OvRecordLook(const OvDatabase& database, const char* name, std::string& why);

// Starts the clock on `clockObject`. With a localised database that holds
// "wday_digit", the digit shows that look from the moment the clock finds
// it (the content may make it on its first tick); the trace says whether it
// did. False when the clock cannot be started.
bool OvStartClock(OvLogObj* clockObject, const OvDatabase* localised);
