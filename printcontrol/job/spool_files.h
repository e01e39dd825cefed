// Removal of a job's spooled report and stylesheet.  The print control
// deletes the files its command line names; that text is formatted by the
// service, but parts of it come from a client, so a name is deleted only
// when it has the form of a spool file and is an ordinary file of this
// process's user.
#ifndef KAVELO_PRINTCONTROL_SPOOL_FILES_H_
#define KAVELO_PRINTCONTROL_SPOOL_FILES_H_

#include <string>

namespace kavelo::printcontrol {

// Whether path has the form of a job file: an absolute path whose last
// component is a name followed by extension (".xml" or ".xsl", letter case
// as given), and none of whose components is "." or "..".
bool IsSpoolFilePath(const std::string& path, const char* extension);

// Deletes path when IsSpoolFilePath holds and it is a regular file (not a
// symbolic link) owned by this process's user.  Returns whether it deleted.
bool RemoveSpoolFile(const std::string& path, const char* extension);

// Deletes the report (".xml") and stylesheet (".xsl") named by the xml= and
// xsl= keys of the whole command-line text, each under RemoveSpoolFile's
// rule, however long the text or the values are: for a job whose command
// line or values do not fit the job object.
void RemoveSpoolFilesNamedIn(const std::string& commandLine);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_SPOOL_FILES_H_
