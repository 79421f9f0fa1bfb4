#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// quillon-recv --merge: the receiver's report and the senders' summaries
// read from files ("-" is standard input) as `kubectl logs` gives them, one
// table per shard on out (one JSON document with json). Exit status 0 when
// every shard reconciles, 1 when one does not, 2 when the input is no spread
// run's logs (a file that cannot be read, logs past the memory budget or a
// line past 256 MiB, no report or no summary in them) or the read was stopped.
int RunMergeCommand(const std::vector<std::string> &files, bool json, std::ostream &out, std::ostream &err);
