#pragma once
// Statements a test runs to set rows up and to read back what the code under test
// wrote, on the calling thread's connection with named parameters (":NAME").
//
// They use the thread's default transaction: each execution commits at once, unless
// the thread holds a long transaction open on it, which they then take part in (and
// see its rows) as the service's own queries on that thread would.
#include <string>
#include <utility>
#include <vector>

#include "uDbProvider.h"

namespace qortest {

// Parameter values by name, as in {{"ID", 7}, {"NAME", "x"}}; TVariant() is NULL.
using SqlParams = std::vector<std::pair<std::string, TVariant>>;

// The executed statement, positioned on its first row, for reading several rows.
TQueryPtr Query(const std::string& sql, const SqlParams& params = {});
// The first column of the first row; null when there is no row.
TVariant Value(const std::string& sql, const SqlParams& params = {});
// Runs a statement for its effect; gives the rows it changed.
int64_t Exec(const std::string& sql, const SqlParams& params = {});

}  // namespace qortest
