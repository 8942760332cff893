// User records as the demo sends them: the typed name as user ID, cut to what the field holds
// (a character is never cut in half), and no display name.
#pragma once

#include <QString>

#include "whorlgate.h"

WGUserRecord RequestRecord(const QString& name);
// The user ID of a record, which fills its field without an ending zero when it is 24 long.
QString UserIdText(const WGUserRecord& user);
