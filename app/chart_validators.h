// Cache validators of chart answers: what a chart answer depends on (the
// program build, the request's fields, the workbook) turned into an ETag and
// a Last-Modified date, and the conditional request they answer with
// 304 Not Modified before anything is read or drawn.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A request field a chart answer depends on, with the default the driver
// applies when it is missing.
struct TChartField {
  const char* Name;
  const char* Default;
};

// Every field the driver reads. The upload's temporary file name is left out:
// it differs on every request, and the uploaded bytes stand in for it.
extern const std::array<TChartField, 23> kChartFields;

// A file's identity as far as caching cares. Any change of content leaves a
// trace here: a rewrite changes the modification and change times, a
// replacement (even by a file of the same size) the inode, and restoring the
// old modification time afterwards still changes the change time.
struct TFileIdentity {
  std::string Path;
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t Size = 0;
  std::int64_t ModifiedNs = 0;  // nanoseconds since the epoch
  std::int64_t ChangedNs = 0;
};

// The identity of the file at `path` (following links, as opening it does);
// nothing when it cannot be looked at.
std::optional<TFileIdentity> IdentifyFile(const std::string& path);

// Where the chart's data come from.
struct TChartSource {
  enum Kind { TestTable, Workbook, Upload } kind = TestTable;
  TFileIdentity file;                // Workbook and Upload
  std::uint64_t contentHash = 0;     // Upload: FNV-1a of the uploaded bytes
};

struct TChartValidators {
  std::string ETag;
  std::int64_t LastModified = 0;  // seconds since the epoch
};

// The validators of one chart answer: the ETag hashes the program's and the
// chart font's identities, every field value (after defaults) and the source;
// Last-Modified is the later of the program's and the workbook's (or upload's)
// modification times. A built-in test table has the program's identity only.
TChartValidators ComposeChartValidators(const TFileIdentity& program, const std::optional<TFileIdentity>& font,
                                        const std::vector<std::string>& fieldValues, const TChartSource& source);

// The validators of the chart the running request asks for (its fields read
// through the engine, files looked at with stat; an upload is read to hash
// it). Nothing when the answer will not be a chart of a known source: the
// workbook cannot be found (that answer is a message page) or the program
// file cannot be looked at.
std::optional<TChartValidators> RequestChartValidators(const std::string& programDir);

// Applies the conditional request rules to the running request. Returns true
// when it has answered 304 Not Modified (ETag, Last-Modified and, when set,
// Cache-Control; no body; nothing drawn or read beyond stat). Otherwise
// returns false, having given the coming chart answer those header lines.
// Cache-Control "max-age=N" comes from GRAFOLIO_MAX_AGE, a variable the web
// server passes with the request, else the process's environment; a value
// that is no number of seconds is logged ("GRAFOLIO_MAX_AGE is not a number
// of seconds: '<value>'") and left out.
bool AnswerFromClientCache(const std::string& programDir);
