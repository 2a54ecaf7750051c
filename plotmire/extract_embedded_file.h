#ifndef QUOTELOOM_PLOTMIRE_EXTRACT_EMBEDDED_FILE_H
#define QUOTELOOM_PLOTMIRE_EXTRACT_EMBEDDED_FILE_H

#include <QString>

// Writes the Qt resource at resource_path (such as ":/plotmire/Plotmire.exe") to file_name in the
// current directory with its run bit set, unless an entry of that name already exists: an existing
// file, even an empty one, is never replaced. Failures are silent; a write that fails half-way
// removes the file it created, so a broken program is never left behind. Called on the GUI thread
// at startup.
void ExtractEmbeddedFile(const QString& resource_path, const QString& file_name);

#endif
