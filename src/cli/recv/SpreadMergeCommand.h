#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// quillon-recv --merge: the receiver's report and the senders' summaries
// read from files ("-" is in) as `kubectl logs` gives them, one table per
// shard on out (one JSON document with json). Exit status 0 when every
// shard reconciles, 1 when one does not, 2 when the input is no spread run's
// logs (a file that cannot be read, no report or no summary in them).
int RunMergeCommand(const std::vector<std::string> &files, bool json, std::istream &in, std::ostream &out,
                    std::ostream &err);
