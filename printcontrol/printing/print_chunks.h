// Printing the chunks of a report that is too large to print as one file:
// copy after copy, every chunk in order, each chunk rendered once for all
// copies.
#ifndef KAVELO_PRINTCONTROL_PRINT_CHUNKS_H_
#define KAVELO_PRINTCONTROL_PRINT_CHUNKS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/spooler.h"

namespace kavelo::printcontrol {

class ReportJob;
class StringList;

// Hands chunk number chunk (its PDF) to the spooler as one copy whose
// spooler job is named documentName, held when hold is set; *jobId is the
// spooler job's id, 0 when unknown.  False with *error on failure (an empty
// text when the failure was reported already).
using ChunkPrinter = std::function<bool(int chunk, const std::string& documentName, bool hold,
                                        int32_t* jobId, std::string* error)>;

// The spooler job names of the chunks for copy number copy (from 0): the
// chunk HTML file names for the first copy; names of their own for every
// later copy, in the job's work folder, so that each copy's spooler jobs
// can be told apart ("STAMPcC-I.html": the copy number keeps them apart
// from every earlier name of the job, also within the same second).
void CopyDocumentNames(const ReportJob& job, int copy, const StringList& htmlFiles,
                       StringList* names);

// The job's copies, one at a time, each printing every chunk in order with
// one copy.  Stops at the first failure: false, its text in *error.
bool PrintChunksPlain(const ReportJob& job, const StringList& htmlFiles, const ChunkPrinter& print,
                      std::string* error);

// The same, for a printer on which the user may hold its own jobs: each
// chunk is submitted held and its spooler job collected (by the id the
// submission gives, else found by its name); after each copy the collected
// jobs are kept together (KeepHeldJobsTogether) and released.  Each
// document name is recorded in the job's held-jobs file
// (protocol/held_jobs_file.h) before its chunk is submitted, and each job
// once its id is known.  Resuming a stopped printer is tried before each
// release.  On a failure (printing a chunk, finding its job, recording,
// releasing) every collected job, and a job of the failed chunk, is
// cancelled.  spooler is used on the calling thread only.
bool PrintChunksHeld(const ReportJob& job, platform::Spooler& spooler, const ChunkPrinter& print,
                     const StringList& htmlFiles, std::string* error);

// Spools the PDF at pdfPath on the job's printer as one copy in the job's
// orientation and colour, named documentName, held when hold is set (the
// print control releases it).  *jobId is the spooler job's id, 0 when the
// spooler gives none.  False with *error ("Error:the spooler refused NAME
// for printer P, errorcode:N").
bool SubmitChunkPdf(const ReportJob& job, platform::Spooler& spooler, const std::string& pdfPath,
                    const std::string& documentName, bool hold, int32_t* jobId,
                    std::string* error);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_CHUNKS_H_
