#pragma once
// Where the picture of the unit ("Lumesk.jpg") is read from.

#include <QString>
#include <QStringList>

class QLabel;

namespace talkgate::ui {

// The picture in the current directory, as the product has always read it; when there is none
// there, the first copy in the fallback folders (beside the program, for a build folder, and
// the installed data folder). When no copy exists the current-directory path is returned and
// the picture area stays empty.
QString unitPicturePath();

// Replaces the fallback folders (tests use this to control where a picture may be found).
void setUnitPictureFallbackFolders(const QStringList& folders);
// Restores the default fallback folders.
void resetUnitPictureFallbackFolders();

// Shows the picture at path scaled into box; a picture that cannot be read leaves it empty.
void showPicture(QLabel* box, const QString& path);

}  // namespace talkgate::ui
