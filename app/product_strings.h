#pragma once
// The product strings resource set, read by name at run time.

#include <QString>

namespace talkgate::app {

// The string called name ("Version", "Part_Number"); empty when there is none.
QString productString(const QString& name);

}  // namespace talkgate::app
