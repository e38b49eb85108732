// A file import's transaction, run so that an import into a database on a
// server does not wait for the server after every statement.
//
// The transaction is first run speculatively: writes go out without their
// answers being waited for, and reads are answered from what was read
// ahead or foreseen (see the connection's speculation). Almost always every
// write succeeds and every foreseen answer was right, and the transaction
// commits as it would have. When the server says otherwise (a row it
// refused, a key other than the one foreseen), the transaction is rolled
// back, the import's state goes back to where it stood before it (the
// caches of clubs and swimmers, the trace, the report, the progress bar,
// the statement count), and the same transaction is run again one statement
// at a time, exactly as on a file database. The keys the abandoned run drew
// from the server's sequences are not given back, so the rows of the run
// again have other keys than a first run would have given them: the trace,
// the result and the rows compared without their surrogate keys are those
// of a run that never speculated.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ondival {

// `transaction` opens the connection's transaction (BeginTrans), does its
// work and ends it, as it would without speculation; it may be run twice.
void speculative_transaction(const std::function<void()>& transaction);

// Thrown by the read-ahead once the transaction under way is known to be
// run again ("importation reprise pas à pas"): it ends the file import's run
// over its lines on the way to speculative_transaction, which runs the
// transaction again. It is no error and derives from no exception class:
// the file imports' handlers, which trace what they catch, let it through
// (catch it by name before their catch (...)); nothing else sees it.
struct TransactionRunAgain {};

// The tables the file imports write in their transactions (lower case):
// the host's triggers or rules on any of them keep the import line by line.
inline const std::vector<std::string>& tables_ecrites() {
    static const std::vector<std::string> tables{"club",         "licence", "selection", "liffn",
                                                 "liffn_relais", "piscine", "rcomp"};
    return tables;
}

// Number of a data file opened a second time to read its lines ahead.
inline constexpr std::int16_t kReadAheadFile = 3;

}  // namespace ondival
