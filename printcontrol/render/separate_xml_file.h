// Report splitting: cuts a report XML file into chunk reports of
// consecutive pages, each a complete report with the report's own header.
// Works on the raw bytes; it looks for a few fixed tag texts and does not
// parse XML.
#ifndef KAVELO_PRINTCONTROL_SEPARATE_XML_FILE_H_
#define KAVELO_PRINTCONTROL_SEPARATE_XML_FILE_H_

namespace kavelo::printcontrol {

class StringList;

// Splits the report at `xmlPath` into chunk files "<path without .xml><n>.xml"
// (n from 0) of pageCount / factor + 1 pages each, where factor is the size
// of the whole-report HTML in MiB (at least 1) and pageCount the job's page
// count.  `chunkFiles` (a "string2" list) is emptied first and then lists
// the chunk paths in order.  `error` (at least 1024 bytes) is empty on
// success; on failure it holds the message and no chunk file is left.  The
// report itself is never changed.  Memory stays small whatever the report's
// size: the report is streamed.
void SeparateXmlFile(const char* xmlPath, int factor, int pageCount, StringList* chunkFiles,
                     char* error);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_SEPARATE_XML_FILE_H_
