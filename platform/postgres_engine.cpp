// A PostgreSQL server: the host database of a committee or a federation,
// shared by several workstations and the results site.
//
// The import was written for a file database, and two habits of a file
// database are kept here so that it behaves the same on a server:
// - a failed statement inside a transaction leaves the transaction usable
//   (the import reports the failure and goes on, or purges what it staged).
//   PostgreSQL aborts the whole transaction instead, so every statement run
//   inside one is wrapped in a savepoint, sent in the same round trip;
// - one import writes at a time: a transaction takes an advisory lock first,
//   and a second import waits for it no longer than a file database would
//   wait for its lock.
// The lock keeps other imports out, not other writers: workstations and
// the results site write to the same tables while an import runs. A file
// import's transaction sent ahead (see speculate()) that meets what they
// did is abandoned and run again one statement at a time; the keys it drew
// from the sequences are never given back, so what a speculative and a
// line-by-line import leave is the same trace, the same result and the same
// rows compared without their surrogate keys (the keys of a run again are
// higher, as after any rolled-back transaction).
// Error numbers are those a file database gives for the same kind of fault,
// so the host and the trace read the same numbers whatever the engine.
#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/database_engine.h"
#include "platform/early_answers.h"
#include "platform/error.h"
#include "platform/pending_answers.h"
#include "platform/postgres_values.h"
#include "platform/statement.h"

namespace ondival::platform {
namespace {

using namespace pg;  // the server's values and answers

// Every import of every workstation takes this lock for its transactions.
const std::string kTakeImportLock = "SELECT pg_advisory_xact_lock(" + std::to_string(kImportLockKey) + ")";
const std::string kBegin = "BEGIN; " + kTakeImportLock;
const std::string kBeginNested = "SAVEPOINT ondival_file; " + kTakeImportLock;

std::vector<std::string> literal_texts(const Sql& st) {
    std::vector<std::string> texts;
    texts.reserve(st.values().size());
    for (const SqlValue& v : st.values()) texts.push_back(v.text);
    return texts;
}

// The key an answer is filed under: the shape's identity (an undeclared
// text's own words) and every value.
std::string answer_key(const Sql& st) {
    const Shape& shape = st.shape();
    std::string key = shape.declared() ? "#" + std::to_string(shape.id()) : "'" + shape.text();
    for (const SqlValue& v : st.values()) {
        key.push_back('\0');
        key.push_back(static_cast<char>('0' + static_cast<int>(v.kind)));
        key += v.text;
    }
    return key;
}

// A statement its engine may keep prepared: the component's own shape,
// with every place given.
bool keepable(const Sql& st) { return st.shape().declared() && st.complete(); }

// Each table whose key the server draws from a sequence (an identity
// column), with the key its next row will be given. The catalogue shows
// no last value for a sequence not called since it was created or set
// (pg_sequences.last_value is null); its next key is then read from the
// sequence itself, when the session may read it. A key that cannot be
// told (no right to read the sequence, or keys cached by each session)
// comes back null: nothing is foreseen for that table.
constexpr const char* kIdentities =
    "SAVEPOINT ondival_identities; "
    "select lower(c.table_name), lower(c.column_name), "
    "case when s.cache_size <> 1 then null "
    "when s.last_value is not null then s.last_value + s.increment_by "
    "when has_sequence_privilege(format('%I.%I', s.schemaname, s.sequencename), 'SELECT') then "
    "(xpath('/row/n/text()', query_to_xml(format("
    "'select case when is_called then last_value + %s else last_value end as n from %I.%I', "
    "s.increment_by, s.schemaname, s.sequencename), false, true, '')))[1]::text::bigint end, "
    "s.increment_by "
    "from information_schema.columns c join pg_sequences s "
    "on format('%I.%I', s.schemaname, s.sequencename) = "
    "pg_get_serial_sequence(format('%I.%I', c.table_schema, c.table_name), c.column_name) "
    "where c.table_schema = current_schema() and c.is_identity = 'YES'; "
    "select lower(table_name) || '.' || lower(column_name) from information_schema.columns "
    "where table_schema = current_schema() and data_type in ('text', 'character varying'); "
    "RELEASE SAVEPOINT ondival_identities";

// The host's own objects on the tables the import's statements name (the
// ones visible by their bare name): triggers other than the server's own
// (those of foreign keys), rules, a table that is a view (or a foreign or
// materialised one) and row-level security. Each writes, or answers, in a
// way an engine that sends statements ahead and keeps early answers cannot
// see: a trigger on one table inserting into another, a policy whose rows
// depend on other tables.
constexpr const char* kHostObjects =
    "select lower(c.relname), 'trigger ' || t.tgname || ' on ' || c.relname "
    "from pg_trigger t join pg_class c on c.oid = t.tgrelid "
    "where not t.tgisinternal and pg_table_is_visible(c.oid) "
    "union all select lower(c.relname), 'rule ' || r.rulename || ' on ' || c.relname "
    "from pg_rewrite r join pg_class c on c.oid = r.ev_class "
    "where r.rulename <> '_RETURN' and pg_table_is_visible(c.oid) "
    "union all select lower(c.relname), case c.relkind when 'v' then 'view ' when 'm' then 'materialized view ' "
    "when 'f' then 'foreign table ' else 'row level security on ' end || c.relname "
    "from pg_class c where (c.relkind in ('v', 'm', 'f') or c.relrowsecurity) and pg_table_is_visible(c.oid) "
    "order by 1, 2";

// By table (lower case), each object as "trigger NAME on TABLE"
// (Windows-1252); nullopt when the catalogue could not be read.
using HostObjects = std::optional<std::unordered_map<std::string, std::vector<std::string>>>;

class PgEngine : public Engine, private PendingAnswers::Handler {
public:
    PgEngine(PGconn* conn, HostObjects host_objects) : conn_(conn), host_objects_(std::move(host_objects)) {}
    ~PgEngine() override { close(); }

    void execute(const Sql& st) override {
        // Once a speculation failed, nothing more may reach the server
        // before the transaction is abandoned: not even outside it.
        if (spec_.failed) doomed();
        ordinal_ = statements_run();
        if (spec_.on) return speculative_write(st);
        run(st);
    }
    std::unique_ptr<Cursor> query(const Sql& st) override {
        if (spec_.failed) doomed();
        ordinal_ = statements_run();
        if (spec_.on) return speculative_read(st);
        return std::make_unique<PgCursor>(shared(run(st)));
    }

    void begin() override {
        if (spec_.failed) doomed();
        if (held_) return begin_nested();
        Result r = plain(kBegin.c_str());
        if (!succeeded(r.get())) {
            const Failure f = failure(r.get());
            rollback();
            throw f;
        }
    }

    void commit() override {
        replay_.reset();
        if (spec_.on) {
            if (!spec_.failed) sync();
            leave_speculation();
        }
        if (spec_.failed) doomed();
        if (held_) return commit_nested();
        // A transaction that has failed answers COMMIT with a rollback; the
        // import must hear that its work is gone.
        const bool failed = PQtransactionStatus(live()) == PQTRANS_INERROR;
        Result r = plain("COMMIT");
        if (!succeeded(r.get())) throw failure(r.get());
        if (failed || std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
            raise(code::kError, "La transaction a été annulée par le serveur"_w, ErrorOrigin::server({}));
    }

    void rollback() noexcept override {
        if (spec_.on) {
            // The import decided to undo its work on answers that may
            // still be unchecked: check them first. When one was wrong,
            // the caller abandons the transaction and runs it again.
            try {
                if (!spec_.failed) sync();
            } catch (...) {
                spec_.failed = true;
            }
            leave_speculation();
            if (spec_.failed) return;
        }
        replay_.reset();
        const bool was_nested = nested_;
        nested_ = false;
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return;
        const PGTransactionStatusType s = PQtransactionStatus(conn_);
        if (s != PQTRANS_INTRANS && s != PQTRANS_INERROR) return;
        count_round_trip();
        if (!held_) {
            PQclear(PQexec(conn_, "ROLLBACK"));
        } else if (was_nested) {
            PQclear(PQexec(conn_, "ROLLBACK TO SAVEPOINT ondival_file; RELEASE SAVEPOINT ondival_file"));
        }
    }

    bool in_transaction() const override {
        if (spec_.on) return true;
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return false;
        const PGTransactionStatusType s = PQtransactionStatus(conn_);
        const bool open = s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
        return open && (!held_ || nested_);
    }

    // The outer transaction takes no lock of its own: the advisory lock is
    // taken by the first savepoint, where a real import's first transaction
    // takes it, so a check waits for another import's writing where an
    // import would and hears the same "lock timeout". Once taken, the lock
    // stays with the outer transaction until the rollback.
    void hold() override {
        Result r = plain("BEGIN");
        if (!succeeded(r.get())) throw failure(r.get());
        held_ = true;
    }

    void close() noexcept override {
        if (!conn_) return;
        // A session left in the middle of a pipeline cannot be asked for a
        // rollback; the server rolls back a session that goes away.
        if (PQstatus(conn_) == CONNECTION_OK && PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) {
            const PGTransactionStatusType s = PQtransactionStatus(conn_);
            if (s == PQTRANS_INTRANS || s == PQTRANS_INERROR) PQclear(PQexec(conn_, "ROLLBACK"));
        }
        PQfinish(conn_);
        conn_ = nullptr;
        for (auto& entry : shapes_)
            if (entry) entry->prepared.clear();
        spec_ = Speculation{};
    }

    std::vector<std::string> host_objects_on(const std::vector<std::string>& tables) const override {
        if (!host_objects_) return {"the host's triggers and rules could not be read"};
        std::vector<std::string> found;
        for (const std::string& table : tables)
            if (const auto it = host_objects_->find(table); it != host_objects_->end())
                found.insert(found.end(), it->second.begin(), it->second.end());
        return found;
    }

    bool can_speculate() const override { return host_objects_.has_value(); }

    bool speculate() override {
        if (spec_.on) return true;
        if (!host_objects_) return false;
        PGconn* c = live();
        if (PQtransactionStatus(c) != PQTRANS_INTRANS) return false;
        std::unordered_map<std::string, Identity> identities;
        if (!read_identities(c, identities)) return false;
        if (!PQenterPipelineMode(c)) return false;
        if (PQsetnonblocking(c, 1) != 0) {
            PQexitPipelineMode(c);
            return false;
        }
        spec_ = Speculation{};
        spec_.on = true;
        spec_.identities = std::move(identities);
        ++speculation_;
        note_read_backs();
        return true;
    }

    bool speculating() const override { return spec_.on; }
    bool speculation_failed() const override { return spec_.failed; }

    void settle() noexcept override {
        if (!spec_.on) return;
        try {
            if (!spec_.failed) sync();
        } catch (...) {
            spec_.failed = true;
        }
        leave_speculation();
    }

    void prefetch(const std::vector<Sql>& reads) override {
        if (!spec_.on || spec_.failed) return;
        // The reads sent now serve the batch after the one about to start.
        const unsigned batch = ++spec_.batches;
        spec_.early.start_batch(batch);
        // They stand for statements the import has not made yet.
        ordinal_ = statements_run() + 1;
        spec_.inserted.clear();
        std::unordered_set<std::string> asked;
        std::unordered_map<int, std::pair<const ReadShape*, std::vector<Member>>> groups;
        try {
            for (const Sql& st : reads) {
                // Only reads of the component's own shapes, each told apart
                // by its values, are worth asking early.
                if (!keepable(st)) continue;
                entry_of(st.shape());  // a read met is a read the engine knows of from now on
                const std::optional<ReadShape>& shape = st.shape().reads();
                if (!shape) continue;
                std::string key = answer_key(st);
                if (spec_.early.find(key) || !asked.insert(key).second) continue;
                if (std::optional<Member> m = member_of(st, *shape, key)) {
                    groups.try_emplace(st.shape().id(), &*shape, std::vector<Member>{})
                        .first->second.second.push_back(std::move(*m));
                    continue;
                }
                Pending p{Pending::kFetch,      std::move(key), shape->tables, literal_texts(st), {}, {}, 0,
                          spec_.early.logged(), batch};
                spec_.early.reads_sent(p.tables);
                send_speculative(st, std::move(p));
            }
            for (auto& [shape_text, group] : groups)
                send_group(*group.first, std::move(group.second), Pending::kGroup, batch);
        } catch (const Failure&) {
            // A read that cannot even be sent is left for its own turn,
            // where it fails as it always did.
        }
        // These answers are not waited for: the lines they serve come after
        // those of the batch sent last time, whose answers are.
        send_sync();
        PQflush(conn_);
        drain(spec_.pending.syncs_sent() - 1);
        // Only the reads just sent are still on their way, and no write
        // came after them yet: the writes logged so far concern none.
        spec_.early.clear_log();
    }

    // Keys the abandoned transaction drew stay drawn: another session may
    // have drawn the next ones meanwhile, and rows of the host or files
    // exported earlier may still name a key once given. The run again
    // draws fresh keys, as any rolled-back transaction leaves a gap.
    void abandon() noexcept override {
        if (spec_.on) leave_speculation();
        for (const auto& [entry, types] : spec_.unconfirmed) entry->prepared.erase(types);
        std::optional<Replay> replay = std::move(spec_.replay);
        spec_ = Speculation{};
        count_abandoned_speculation();
        rollback();
        replay_ = std::move(replay);
    }

private:
    struct Prepared {
        std::string name;
        int params = 0;
    };
    struct Identity {
        std::string column;
        long long next = 0;  // the key the next insert will be given
        long long step = 1;
        bool known = true;  // false when the next key cannot be told, or a write may have drawn one unseen
    };
    struct ShapeEntry {
        std::unordered_map<std::string, Prepared> prepared;  // by the types of its values
        // For a write, what the current speculation knows of its table,
        // looked up once per speculation rather than once per row.
        unsigned speculation = 0;
        Identity* identity = nullptr;
        bool read_back = false;
    };

    PGconn* live() {
        if (!conn_) raise(err::kInvalidCall, "La connexion à la base n'est pas ouverte"_w);
        if (broken_)
            raise(code::kIoErr, "La communication avec le serveur a été interrompue"_w, ErrorOrigin::server({}));
        // A dry run whose outer transaction is gone must not run one
        // statement more: outside a transaction it would be kept.
        if (held_ && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE)
            raise(code::kError, "La transaction de contrôle a été annulée : aucune instruction de plus"_w,
                  ErrorOrigin::server({}));
        return conn_;
    }

    void begin_nested() {
        if (nested_) raise(err::kInvalidCall, "Une transaction est déjà ouverte"_w);
        Result r = plain(kBeginNested.c_str());
        if (!succeeded(r.get())) {
            const Failure f = failure(r.get());
            if (PQstatus(conn_) == CONNECTION_OK)
                PQclear(PQexec(conn_, "ROLLBACK TO SAVEPOINT ondival_file; RELEASE SAVEPOINT ondival_file"));
            throw f;
        }
        nested_ = true;
    }

    void commit_nested() {
        if (!nested_) raise(err::kInvalidCall, "Aucune transaction n'est ouverte"_w);
        if (PQtransactionStatus(live()) == PQTRANS_INERROR) {
            rollback();
            raise(code::kError, "La transaction a été annulée par le serveur"_w, ErrorOrigin::server({}));
        }
        nested_ = false;
        Result r = plain("RELEASE SAVEPOINT ondival_file");
        if (!succeeded(r.get())) throw failure(r.get());
    }

    // The error of a failed result, or of the connection when there is no
    // result (the server went away).
    Failure failure(const PGresult* r) const {
        if (conn_ && PQstatus(conn_) == CONNECTION_BAD)
            return Failure(code::kIoErr, utf8_to_cp1252(one_line(PQerrorMessage(conn_))), ErrorOrigin::server({}));
        if (!r) return Failure(code::kIoErr, utf8_to_cp1252(one_line(PQerrorMessage(conn_))), ErrorOrigin::server({}));
        const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
        const char* text = primary ? primary : PQresultErrorMessage(r);
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        return Failure(number_for(state), utf8_to_cp1252(one_line(text)), ErrorOrigin::server(state ? state : ""));
    }

    Result plain(const char* sql) {
        PGconn* c = live();
        Result last;
        // A simple query may answer with several results (BEGIN; SELECT):
        // the last failure, or the last result, tells how it went.
        count_round_trip();
        if (!PQsendQuery(c, sql)) throw failure(nullptr);
        while (PGresult* r = PQgetResult(c)) {
            if (last && !succeeded(last.get()) && succeeded(r)) {
                PQclear(r);
                continue;
            }
            last.reset(r);
        }
        if (!last) throw failure(nullptr);
        return last;
    }

    // Runs the import's statement in one round trip: its preparation the
    // first time its shape is met, and inside a transaction a savepoint
    // before it and the savepoint's release after it. When it fails there,
    // the transaction goes back to the savepoint and carries on, as a file
    // database's would after a failed statement.
    Result run(const Sql& st) {
        PGconn* c = live();
        if (PQstatus(c) != CONNECTION_OK) throw failure(nullptr);
        replay_if_due(st);
        const Plan plan = plan_for(st, PQtransactionStatus(c) == PQTRANS_INTRANS);
        count_round_trip();
        const bool sent = send(c, plan);
        std::vector<Result> results = collect(c, plan, sent);
        return outcome(c, plan, results);
    }

    enum Step { kSavepoint, kPrepare, kRun, kRelease };

    // How one statement goes to the server: its values, the prepared
    // statement it runs as (known already, or prepared now), and the steps
    // sent together.
    struct Plan {
        std::vector<Bound> values;
        ShapeEntry* entry = nullptr;  // the shape's, when its values were lifted out
        std::string types_key;        // the types of its values: a shape is prepared once per types
        const Prepared* cached = nullptr;
        Prepared fresh;    // prepared in this round trip
        std::string text;  // UTF-8, $n markers; when not cached
        std::vector<Oid> types;
        std::vector<Step> steps;
        bool guarded = false;  // inside a transaction: between a savepoint and its release
        bool prepared() const { return cached || !fresh.name.empty(); }
    };

    Plan plan_for(const Sql& st, bool guarded, ShapeEntry* entry = nullptr) {
        Plan p;
        p.guarded = guarded;
        p.values.reserve(st.values().size());
        for (const SqlValue& v : st.values())
            if (v.kind != SqlValue::Kind::Empty) p.values.push_back(bound(v));
        const bool keep = keepable(st);
        if (keep) {
            p.entry = entry ? entry : &entry_of(st.shape());
            for (const Bound& b : p.values) p.types_key.push_back(b.type == 0 ? 'T' : b.type == kInt8Oid ? 'I' : 'R');
            if (auto it = p.entry->prepared.find(p.types_key); it != p.entry->prepared.end()) p.cached = &it->second;
        }
        if (!p.cached) {
            // An undeclared text runs as it stands; a declared shape holds no
            // quote, so each of its '?' is the place of a value.
            std::size_t markers = 0;
            p.text = cp1252_to_utf8(st.shape().declared() ? numbered(st.prepared_text(), markers) : st.shape().text());
            if (markers != p.values.size())
                raise(code::kError, "Instruction SQL mal formée"_w, ErrorOrigin::server({}));
            if (p.text.find_first_not_of(" \t\r\n") == std::string::npos)
                raise(code::kError, "Instruction SQL vide"_w, ErrorOrigin::server({}));
            for (const Bound& b : p.values) p.types.push_back(b.type);
            if (keep) p.fresh = {"ondival_" + std::to_string(++prepared_serial_), static_cast<int>(p.values.size())};
        }
        if (guarded) p.steps.push_back(kSavepoint);
        if (!p.cached && keep) p.steps.push_back(kPrepare);
        p.steps.push_back(kRun);
        if (guarded) p.steps.push_back(kRelease);
        return p;
    }

    // Queues the plan's steps and a sync in pipeline mode; false when libpq
    // could not queue them (the connection is gone).
    bool send(PGconn* c, const Plan& p) {
        std::vector<const char*> pointers;
        for (const Bound& b : p.values) pointers.push_back(b.value.c_str());
        const auto simple = [c](const char* sql) {
            return PQsendQueryParams(c, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
        };
        // A statement not kept prepared (a text of the host's own, or one
        // whose bare place was left blank) still has its values bound.
        const auto with_values = [&](const char* sql) {
            return PQsendQueryParams(c, sql, static_cast<int>(p.values.size()), p.types.data(), pointers.data(),
                                     nullptr, nullptr, 0) == 1;
        };
        if (!PQenterPipelineMode(c)) throw failure(nullptr);
        bool sent = true;
        for (Step step : p.steps) {
            if (!sent) break;
            switch (step) {
                case kSavepoint:
                    sent = simple("SAVEPOINT ondival_statement");
                    break;
                case kPrepare:
                    sent = PQsendPrepare(c, p.fresh.name.c_str(), p.text.c_str(), p.fresh.params, p.types.data());
                    break;
                case kRun:
                    if (p.prepared()) {
                        const Prepared& pr = p.cached ? *p.cached : p.fresh;
                        sent = PQsendQueryPrepared(c, pr.name.c_str(), pr.params, pointers.data(), nullptr, nullptr, 0);
                    } else {
                        sent = with_values(p.text.c_str());
                    }
                    break;
                case kRelease:
                    sent = simple("RELEASE SAVEPOINT ondival_statement");
                    break;
            }
        }
        return sent && PQpipelineSync(c);
    }

    // The answer of each step, up to the sync. A session whose answers went
    // out of step with its questions is marked broken: nothing it reads
    // from then on could be trusted to belong to its question.
    std::vector<Result> collect(PGconn* c, const Plan& p, bool sent) {
        std::vector<Result> results(p.steps.size());
        bool synced = false;
        for (std::size_t i = 0; sent && i < p.steps.size() && !synced && PQstatus(c) == CONNECTION_OK; ++i) {
            while (PGresult* r = PQgetResult(c)) {
                if (PQresultStatus(r) == PGRES_PIPELINE_SYNC) {
                    synced = true;
                    PQclear(r);
                    break;
                }
                // The first failure of a step is the one worth reporting.
                if (!results[i] || succeeded(results[i].get()))
                    results[i].reset(r);
                else
                    PQclear(r);
            }
        }
        while (sent && !synced && PQstatus(c) == CONNECTION_OK) {
            PGresult* r = PQgetResult(c);
            if (!r) break;
            synced = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
            PQclear(r);
        }
        if (PQstatus(c) != CONNECTION_OK) throw failure(nullptr);
        if (!synced) {
            broken_ = true;
            raise(code::kIoErr, "La communication avec le serveur a été interrompue"_w, ErrorOrigin::server({}));
        }
        PQexitPipelineMode(c);
        return results;
    }

    // The statement's rows when every step went well; otherwise its error,
    // after the transaction went back to the savepoint taken before it.
    Result outcome(PGconn* c, const Plan& p, std::vector<Result>& results) {
        const auto ok = [&](std::size_t i) { return results[i] && succeeded(results[i].get()); };
        const PGresult* failed = nullptr;
        bool any_failed = false;
        Result* ran = nullptr;
        for (std::size_t i = 0; i < p.steps.size(); ++i) {
            if (p.steps[i] == kRun) ran = &results[i];
            if (p.steps[i] == kPrepare && ok(i)) p.entry->prepared.emplace(p.types_key, p.fresh);
            if (!any_failed && !ok(i)) {
                any_failed = true;
                if (results[i] && PQresultStatus(results[i].get()) == PGRES_FATAL_ERROR) failed = results[i].get();
            }
        }
        if (!any_failed) return std::move(*ran);
        const Failure f = failure(failed);
        if (p.guarded) {
            count_round_trip();
            PQclear(PQexec(c, "ROLLBACK TO SAVEPOINT ondival_statement; RELEASE SAVEPOINT ondival_statement"));
        }
        throw f;
    }

    // Speculation state.
    // A statement of another session's making refused in a speculative
    // run: a lock it held past the lock timeout, a deadlock with it, or the
    // host's statement timeout on a statement of the import's own. The
    // transaction run again line by line meets the same refusal where a
    // line-by-line import would have met it (the first statement from
    // `ordinal` on that touches one of `tables`; any statement when none is
    // named) without waiting for the lock a second time: the wait was had.
    struct Replay {
        long ordinal = 0;
        std::vector<std::string> tables;
        Failure failure;
    };
    // Foreseen reads of one shape, waiting to be checked in one query.
    struct Foreseen {
        const ReadShape* shape;
        std::vector<Member> members;
    };
    struct Inserted {
        std::string table;
        std::vector<std::string> literals;
        long long key;
    };
    struct Speculation {
        bool on = false;
        bool failed = false;
        PendingAnswers pending;  // sent, answers not read yet, in order
        unsigned batches = 0;    // batches of early reads sent: the last one serves the lines after the current
        EarlyAnswers early;
        std::vector<Inserted> inserted;
        std::unordered_map<std::string, Identity> identities;          // by table
        std::vector<std::pair<ShapeEntry*, std::string>> unconfirmed;  // prepared in the pipeline, not confirmed
        SharedResult wanted;
        int unflushed = 0;
        std::unordered_map<int, Foreseen> foreseen;  // by shape identity
        std::optional<Replay> replay;                        // the first refusal, when it was another session's doing
    };

    [[noreturn]] static void doomed() {
        raise(code::kError, "Instruction abandonnée : la transaction est reprise pas à pas"_w, ErrorOrigin::server({}));
    }

    // A statement sent ahead that the server refused. When it is the first
    // refusal and another session's doing, the run again replays it.
    // Whether the keys foreseen before it were right does not matter here:
    // which statements an import makes never depends on a key's value, only
    // the values it writes do, and the run again reads them.
    void refused(const Pending& p, const PGresult* r) {
        if (!spec_.failed && r && others_doing(p, r)) spec_.replay = Replay{p.ordinal, p.tables, failure(r)};
        spec_.failed = true;
    }

    static bool others_doing(const Pending& p, const PGresult* r) {
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        if (!state || PQresultStatus(r) != PGRES_FATAL_ERROR) return false;
        const std::string s(state);
        // A lock not granted in time, a deadlock, a serialisation failure.
        if (s == "55P03" || s.rfind("40", 0) == 0) return true;
        // A statement timeout, on a statement the import made as it would
        // have line by line; a read sent ahead for many lines at once is
        // not one of them, and is asked again line by line.
        return s == "57014" && (p.kind == Pending::kWrite || p.kind == Pending::kWanted || p.kind == Pending::kAck);
    }

    // In a transaction run again after a refusal of another session's
    // making: the refusal, when this is the statement that meets it.
    void replay_if_due(const Sql& st) {
        if (!replay_ || statements_run() < replay_->ordinal) return;
        if (!replay_->tables.empty() && st.shape().declared()) {
            entry_of(st.shape());
            const std::optional<ReadShape>& read = st.shape().reads();
            const WriteShape& write = st.shape().writes();
            std::vector<std::string> touched = read ? read->tables : std::vector<std::string>();
            if (write.kind) touched.push_back(write.table);
            const auto named = [&](const std::string& t) {
                return std::find(replay_->tables.begin(), replay_->tables.end(), t) != replay_->tables.end();
            };
            if ((read || write.kind) && std::none_of(touched.begin(), touched.end(), named)) return;
        }
        const Failure f = std::move(replay_->failure);
        replay_.reset();
        throw f;
    }

    // A read that can be asked within a group of its shape: every value a
    // text, so that a row answers it exactly when its where columns hold
    // those very texts.
    std::optional<Member> member_of(const Sql& st, const ReadShape& shape, std::string key) const {
        if (!shape.groupable() || st.values().size() != shape.where_columns.size()) return std::nullopt;
        for (const std::string& column : shape.where_columns)
            if (!text_columns_.count(shape.tables.front() + "." + column)) return std::nullopt;
        Member m;
        for (const SqlValue& v : st.values()) {
            if (v.kind != SqlValue::Kind::Text) return std::nullopt;
            Bound b = bound(v);
            m.values.push_back(std::move(b.value));
            m.literals.push_back(v.text);
        }
        m.key = std::move(key);
        return m;
    }

    void send_setting(const char* sql) {
        if (PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) != 1) {
            spec_.failed = true;
            doomed();
        }
        spec_.pending.sent(Pending{Pending::kAck, {}, {}, {}, {}, {}, 0});
    }

    // Sends reads of one shape as one query per few hundred of them.
    void send_group(const ReadShape& shape, std::vector<Member> members, Pending::Kind kind, unsigned batch = 0) {
        constexpr std::size_t kMost = 500;
        for (std::size_t from = 0; from < members.size(); from += kMost) {
            const std::size_t n = std::min(kMost, members.size() - from);
            Pending p{kind, {}, shape.tables, {}, {}, {}, shape.select_list.size(), spec_.early.logged(), batch};
            p.ordinal = ordinal_;
            if (kind == Pending::kGroup) spec_.early.reads_sent(p.tables);
            p.members.assign(std::make_move_iterator(members.begin() + static_cast<std::ptrdiff_t>(from)),
                             std::make_move_iterator(members.begin() + static_cast<std::ptrdiff_t>(from + n)));
            std::vector<const char*> values;
            for (const Member& m : p.members)
                for (const std::string& v : m.values) values.push_back(v.c_str());
            const std::string sql = grouped_read(shape, n);
            // The table grows during the import faster than the planner's
            // idea of it: without this it may read the whole table for a
            // few hundred rows it could find by their index.
            send_setting("SET LOCAL enable_hashjoin = off");
            send_setting("SET LOCAL enable_mergejoin = off");
            if (PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                                  nullptr, 0) != 1) {
                spec_.failed = true;
                doomed();
            }
            spec_.pending.sent(std::move(p));
            send_setting("RESET enable_hashjoin");
            send_setting("RESET enable_mergejoin");
        }
    }

    // Sends the checks of the foreseen reads of `table` (of every table
    // when empty), before anything that could change what they would see.
    void check_foreseen(const std::string& table) {
        for (auto it = spec_.foreseen.begin(); it != spec_.foreseen.end();) {
            const ReadShape& shape = *it->second.shape;
            if (!table.empty() && shape.tables.front() != table) {
                ++it;
                continue;
            }
            send_group(shape, std::move(it->second.members), Pending::kGroupVerify);
            it = spec_.foreseen.erase(it);
        }
    }

    // The rows of a group's answer, each given to the member whose values
    // its where columns hold. False when the answer cannot be shared out
    // with certainty: a where column that is not plain text (compared by
    // its value, not its bytes), or a row that belongs to no member (the
    // server found equal what the bytes do not show equal).
    static bool share_out(const PGresult* r, const Pending& p, std::vector<std::vector<int>>& rows_of_member) {
        const int fields = PQnfields(r);
        const auto k = static_cast<int>(p.members.front().values.size());
        const auto own = static_cast<int>(p.columns);
        if (fields != own + k) return false;
        for (int c = own; c < fields; ++c)
            if (PQftype(r, c) != kTextOid && PQftype(r, c) != kVarcharOid) return false;
        std::unordered_map<std::string, std::size_t> index;
        std::string key;
        for (std::size_t m = 0; m < p.members.size(); ++m) {
            key.clear();
            for (const std::string& v : p.members[m].values) (key += v) += '\0';
            index.emplace(key, m);
        }
        rows_of_member.assign(p.members.size(), {});
        for (int row = 0; row < PQntuples(r); ++row) {
            key.clear();
            for (int c = own; c < fields; ++c) {
                if (PQgetisnull(r, row, c)) return false;
                key.append(PQgetvalue(r, row, c), static_cast<std::size_t>(PQgetlength(r, row, c))) += '\0';
            }
            const auto it = index.find(key);
            if (it == index.end()) return false;
            rows_of_member[it->second].push_back(row);
        }
        return true;
    }

    static Rows pick(const PGresult* r, const std::vector<int>& rows, std::size_t columns) {
        Rows out;
        for (int row : rows) {
            std::vector<std::optional<std::string>> values;
            for (std::size_t c = 0; c < columns; ++c)
                values.push_back(PgCursor::field_text(r, row, static_cast<int>(c)));
            out.push_back(std::move(values));
        }
        return out;
    }

    bool read_identities(PGconn* c, std::unordered_map<std::string, Identity>& out) {
        count_round_trip();
        if (!PQsendQuery(c, kIdentities)) return false;
        bool ok = true;
        int tables = 0;
        text_columns_.clear();
        while (PGresult* raw = PQgetResult(c)) {
            Result r(raw);
            if (!succeeded(raw)) ok = false;
            if (!ok || PQresultStatus(raw) != PGRES_TUPLES_OK) continue;
            if (++tables == 2) {
                for (int i = 0; i < PQntuples(raw); ++i) text_columns_.insert(PQgetvalue(raw, i, 0));
                continue;
            }
            for (int i = 0; i < PQntuples(raw); ++i) {
                Identity id;
                id.column = PQgetvalue(raw, i, 1);
                id.step = std::atoll(PQgetvalue(raw, i, 3));
                id.known = !PQgetisnull(raw, i, 2);
                id.next = id.known ? std::atoll(PQgetvalue(raw, i, 2)) : 0;
                out.emplace(PQgetvalue(raw, i, 0), std::move(id));
            }
        }
        if (!ok && PQstatus(c) == CONNECTION_OK) {
            count_round_trip();
            PQclear(PQexec(c, "ROLLBACK TO SAVEPOINT ondival_identities; RELEASE SAVEPOINT ondival_identities"));
        }
        return ok && PQstatus(c) == CONNECTION_OK;
    }

    // Sends a statement down the pipeline, prepared the first time its shape
    // is met, without waiting for anything.
    void send_speculative(const Sql& st, Pending pending, ShapeEntry* entry = nullptr) {
        PGconn* c = conn_;
        Plan p = plan_for(st, false, entry);
        std::vector<const char*> pointers;
        for (const Bound& b : p.values) pointers.push_back(b.value.c_str());
        bool sent = true;
        pending.ordinal = ordinal_;
        if (!p.cached && keepable(st)) {
            sent = PQsendPrepare(c, p.fresh.name.c_str(), p.text.c_str(), p.fresh.params, p.types.data()) == 1;
            if (sent) {
                // Preparing takes the locks of the statement's tables.
                Pending preparation{Pending::kAck, {}, pending.tables, {}, {}, {}, 0};
                preparation.ordinal = ordinal_;
                spec_.pending.sent(std::move(preparation));
                p.cached = &p.entry->prepared.emplace(p.types_key, p.fresh).first->second;
                spec_.unconfirmed.emplace_back(p.entry, p.types_key);
            }
        }
        if (sent) {
            sent = p.cached ? PQsendQueryPrepared(c, p.cached->name.c_str(), p.cached->params, pointers.data(), nullptr,
                                                  nullptr, 0) == 1
                            : PQsendQueryParams(c, p.text.c_str(), static_cast<int>(p.values.size()),
                                                p.types.data(), pointers.data(), nullptr, nullptr, 0) == 1;
        }
        if (!sent) {
            spec_.failed = true;
            doomed();
        }
        spec_.pending.sent(std::move(pending));
        // Keeps both directions moving on a long batch: what is queued goes
        // out, and answers already back are taken in, so that neither side
        // ever waits on a full buffer.
        if (++spec_.unflushed >= 256) {
            spec_.unflushed = 0;
            PQflush(c);
            PQconsumeInput(c);
        }
    }

    // The statements a declared shape was prepared as, and what the
    // speculation knows of its table, found by the shape's identity: an
    // import runs a few dozen shapes hundreds of thousands of times.
    ShapeEntry& entry_of(const Shape& shape) {
        const auto slot = static_cast<std::size_t>(shape.id());
        if (slot >= shapes_.size()) shapes_.resize(slot + 1);
        std::unique_ptr<ShapeEntry>& entry = shapes_[slot];
        if (!entry) {
            entry = std::make_unique<ShapeEntry>();
            const std::optional<ReadShape>& r = shape.reads();
            if (r && r->single() && !r->column.empty()) {
                read_columns_.emplace_back(r->tables.front(), r->column);
                if (spec_.on) note_read_backs();
            }
        }
        return *entry;
    }

    void note_read_backs() {
        for (const auto& [table, column] : read_columns_) {
            const auto id = spec_.identities.find(table);
            // A table newly known to be read back: the shapes' cache is
            // worked out again.
            if (id != spec_.identities.end() && id->second.column == column && read_back_.insert(table).second)
                ++speculation_;
        }
    }

    void speculative_write(const Sql& st) {
        if (spec_.failed) doomed();
        ShapeEntry* entry = st.shape().declared() ? &entry_of(st.shape()) : nullptr;
        const WriteShape& w = st.shape().writes();
        // A foreseen read is checked before anything that could take a row
        // away from what it would have seen.
        if (w.kind != 'i' && !spec_.foreseen.empty()) check_foreseen(w.kind == 0 ? std::string() : w.table);
        Pending write{Pending::kWrite, {}, {}, {}, {}, {}, 0};
        if (w.kind) write.tables.push_back(w.table);
        send_speculative(st, std::move(write), entry);
        if (w.kind == 0) {
            // A write of unknown reach: nothing read before it can be trusted.
            spec_.early.unknown_write();
            for (auto& [table, id] : spec_.identities) id.known = false;
            return;
        }
        if (entry->speculation != speculation_) {
            entry->speculation = speculation_;
            // A write the host's trigger or rule may carry further than its
            // table: nothing read early can be trusted after it. Whoever
            // opened the transaction should have run it line by line.
            if (host_objects_->count(w.table)) spec_.failed = true;
            spec_.early.table_written(w.table);
            const auto id = spec_.identities.find(w.table);
            entry->identity = id == spec_.identities.end() ? nullptr : &id->second;
            entry->read_back = read_back_.count(w.table) > 0;
        }
        // An answer the write may change is asked again when needed; the
        // write's values are read out of it only when some answer, some read
        // on its way or some foreseen key may depend on them (not for the
        // performances, whose table no answer reads).
        const bool depends = spec_.early.depends_on(w.table);
        Identity* id = entry->identity;
        const bool keyed = w.kind == 'i' && id && id->known &&
                           std::find(w.columns.begin(), w.columns.end(), id->column) == w.columns.end();
        if (w.kind == 'i' && id && !keyed) id->known = false;  // a key given by the statement itself
        std::vector<std::string> values;
        if (depends || (keyed && entry->read_back)) values = literal_texts(st);
        if (keyed) {
            // Only the inserts of a table whose key the import reads back
            // are worth remembering (licences, not performances).
            if (entry->read_back) spec_.inserted.push_back(Inserted{w.table, values, id->next});
            id->next += id->step;
        }
        if (depends) spec_.early.write_sent(w.kind, w.table, std::move(values));
    }

    // The key of a row inserted in this transaction, read back by values
    // the insert carried: the one the sequence gave it.
    std::optional<Rows> foresee(const Sql& st, const std::optional<ReadShape>& shape) {
        if (st.values().empty()) return std::nullopt;
        if (!shape || shape->column.empty() || !shape->single()) return std::nullopt;
        const std::string& table = shape->tables.front();
        const auto id = spec_.identities.find(table);
        if (id == spec_.identities.end() || !id->second.known || id->second.column != shape->column)
            return std::nullopt;
        const std::vector<std::string> values = literal_texts(st);
        for (auto it = spec_.inserted.rbegin(); it != spec_.inserted.rend(); ++it)
            if (it->table == table && all_among(values, it->literals))
                return Rows{{std::optional<std::string>(std::to_string(it->key))}};
        return std::nullopt;
    }

    std::unique_ptr<Cursor> speculative_read(const Sql& st) {
        if (spec_.failed) doomed();
        const std::string key = answer_key(st);
        if (const Answer* found = spec_.early.find(key)) {
            const Answer& a = *found;
            if (a.result) return std::make_unique<PgCursor>(a.result);
            return std::make_unique<RowsCursor>(a.rows, a.fields);
        }
        if (st.shape().declared()) entry_of(st.shape());
        const std::optional<ReadShape>& shape = st.shape().reads();
        if (std::optional<Rows> rows = foresee(st, shape)) {
            // Checked later with the other foreseen reads of its shape, in
            // one query, or on its own when it cannot be.
            if (std::optional<Member> m = member_of(st, *shape, key)) {
                m->expected = *rows;
                spec_.foreseen.try_emplace(st.shape().id(), Foreseen{&*shape, {}})
                    .first->second.members.push_back(std::move(*m));
            } else {
                send_speculative(st, Pending{Pending::kVerify, {}, shape->tables, {}, *rows, {}, 0});
            }
            return std::make_unique<RowsCursor>(std::move(*rows), 1);
        }
        // Nothing known: asked now, with everything still waiting.
        // It serves the batch under way: the one before the last sent.
        send_speculative(st, Pending{Pending::kWanted,
                                     key,
                                     shape ? shape->tables : std::vector<std::string>(),
                                     literal_texts(st),
                                     {},
                                     {},
                                     0,
                                     0,
                                     spec_.batches ? spec_.batches - 1 : 0});
        sync();
        if (spec_.failed || !spec_.wanted) doomed();
        SharedResult answer = std::move(spec_.wanted);
        return std::make_unique<PgCursor>(std::move(answer));
    }

    // Waits until libpq holds a whole answer, sending what is queued
    // meanwhile; false when the session is gone.
    static bool await_answer(PGconn* c) {
        for (;;) {
            const int flushed = PQflush(c);
            if (flushed < 0 || !PQconsumeInput(c)) return false;
            if (!PQisBusy(c)) return true;
            pollfd p{PQsocket(c), static_cast<short>(POLLIN | (flushed == 1 ? POLLOUT : 0)), 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
        }
    }

    void take(Pending& p, SharedResult r) {
        if (!succeeded(r.get())) {
            refused(p, r.get());
            return;
        }
        switch (p.kind) {
            case Pending::kAck:
            case Pending::kWrite:
                break;
            case Pending::kVerify:
                if (rows_of(r) != p.expected) spec_.failed = true;
                break;
            case Pending::kGroup: {
                // A read that several rows answer is left to be asked on its
                // own: the order of its rows is the server's to give.
                std::vector<std::vector<int>> rows;
                if (!share_out(r.get(), p, rows)) break;
                std::vector<const std::vector<std::string>*> literals;
                for (const Member& member : p.members) literals.push_back(&member.literals);
                const std::vector<char> touched = spec_.early.touched_members(p.tables.front(), literals, p.log_from);
                for (std::size_t m = 0; m < p.members.size(); ++m) {
                    if (rows[m].size() > 1 || touched[m]) continue;
                    Member& member = p.members[m];
                    spec_.early.keep(member.key,
                                     Answer{nullptr, pick(r.get(), rows[m], p.columns), static_cast<int>(p.columns),
                                            p.tables, std::move(member.literals), p.batch});
                }
                break;
            }
            case Pending::kGroupVerify: {
                std::vector<std::vector<int>> rows;
                if (!share_out(r.get(), p, rows)) {
                    spec_.failed = true;
                    break;
                }
                for (std::size_t m = 0; m < p.members.size(); ++m)
                    if (pick(r.get(), rows[m], p.columns) != p.members[m].expected) spec_.failed = true;
                break;
            }
            case Pending::kFetch:
            case Pending::kWanted: {
                if (p.kind == Pending::kWanted) spec_.wanted = r;
                if (p.tables.empty()) break;
                Answer a{std::move(r), {}, 0, std::move(p.tables), std::move(p.literals), p.batch};
                if (p.kind == Pending::kWanted || !spec_.early.touched_since(a, p.log_from))
                    spec_.early.keep(p.key, std::move(a));
                break;
            }
            case Pending::kSync:
                break;
        }
    }

    // Closes a batch of statements: the server answers everything sent
    // before it, then says so. One round trip, whether it is waited for at
    // once or later.
    void send_sync() {
        if (!spec_.foreseen.empty() && !spec_.failed) {
            try {
                check_foreseen(std::string());
            } catch (const Failure&) {
                spec_.failed = true;
            }
        }
        spec_.unflushed = 0;
        count_round_trip();
        if (PQpipelineSync(conn_) != 1) {
            spec_.failed = true;
            broken_ = true;
            return;
        }
        spec_.pending.sync_sent();
    }

    // Reads answers, each checked or kept, until `syncs` batches are
    // answered in all.
    void drain(unsigned syncs) {
        PGconn* c = conn_;
        while (spec_.pending.syncs_read() < syncs && !spec_.pending.empty() && !broken_) {
            // Answers already in hand are read without a system call.
            if ((PQisBusy(c) && !await_answer(c)) ||
                spec_.pending.take(PQgetResult(c), *this) == PendingAnswers::Step::kOutOfStep) {
                // The session is gone, or its answers can no longer be
                // matched to their questions: nothing more goes through it.
                spec_.failed = true;
                broken_ = true;
                return;
            }
        }
        if (spec_.pending.syncs_read() == spec_.pending.syncs_sent() && !spec_.failed) spec_.unconfirmed.clear();
    }

    // The answers, as the book of pending answers places them.
    void answered(Pending& p, PGresult* raw) override {
        if (p.kind == Pending::kWrite || p.kind == Pending::kAck) {
            // Most answers say only that a write went through.
            if (!succeeded(raw)) refused(p, raw);
            PQclear(raw);
        } else {
            take(p, SharedResult(raw, PQclear));
        }
    }

    void over(const Pending& p, bool answered) override {
        if (p.kind == Pending::kFetch || p.kind == Pending::kGroup) spec_.early.reads_in(p.tables);
        if (!answered) spec_.failed = true;
    }

    // Every statement sent so far answered.
    void sync() {
        spec_.wanted.reset();
        send_sync();
        drain(spec_.pending.syncs_sent());
    }

    void leave_speculation() noexcept {
        // Answers still on their way (early reads, or what followed a
        // failure) are read and dropped, so that the pipeline can be left.
        if (conn_ && !broken_ && !spec_.pending.empty()) {
            try {
                if (!spec_.pending.closed()) send_sync();
                drain(spec_.pending.syncs_sent());
            } catch (...) {
                broken_ = true;
            }
        }
        // A pipeline that cannot be left still holds answers nobody will
        // read: the session is not fit for one statement more.
        if (conn_ && PQpipelineStatus(conn_) != PQ_PIPELINE_OFF && !PQexitPipelineMode(conn_)) broken_ = true;
        if (conn_) PQsetnonblocking(conn_, 0);
        spec_.on = false;
        spec_.early.clear();
        spec_.inserted.clear();
        spec_.pending.clear();
        spec_.foreseen.clear();
        spec_.wanted.reset();
    }

    PGconn* conn_;
    HostObjects host_objects_;
    Speculation spec_;
    std::vector<std::unique_ptr<ShapeEntry>> shapes_;  // by shape identity
    std::unordered_set<std::string> text_columns_;  // "table.column" of every text column
    // Tables whose identity column a read of the import asks for, and every
    // one-column read of one table met so far (to find them).
    std::unordered_set<std::string> read_back_;
    std::vector<std::pair<std::string, std::string>> read_columns_;
    long prepared_serial_ = 0;
    unsigned speculation_ = 0;      // counts the speculations, for the shapes' cache
    long ordinal_ = 0;              // the import's statement being sent (see statements_run())
    std::optional<Replay> replay_;  // armed for the transaction run again
    bool broken_ = false;
    bool held_ = false;    // a dry run's outer transaction is open
    bool nested_ = false;  // the savepoint standing for the import's transaction
};

}  // namespace

std::shared_ptr<Engine> open_postgres(const std::string& uri) {
    // Bounded waits: a server that does not answer fails the connection
    // after 10 s, and one that vanishes mid-import (no reset from its host)
    // is given up after about 30 s instead of hanging the host. Settings in
    // the address itself come after these and win; the encoding comes last
    // because the database layer speaks UTF-8.
    const char* keys[] = {"connect_timeout",  "keepalives",
                          "keepalives_idle",  "keepalives_interval",
                          "keepalives_count", "tcp_user_timeout",
                          "application_name", "dbname",
                          "client_encoding",  nullptr};
    const char* values[] = {"10", "1", "10", "5", "3", "30000", "ondival", uri.c_str(), "UTF8", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (!conn) raise(code::kNoMem, "out of memory", ErrorOrigin::server({}));
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string message = one_line(PQerrorMessage(conn));
        PQfinish(conn);
        // libpq names the server it tried and never the password.
        const bool denied = message.find("password") != std::string::npos ||
                            message.find("authentication") != std::string::npos;
        const bool no_database = message.find("does not exist") != std::string::npos;
        // libpq gives no SQLSTATE for a connection it could not make: the
        // server's for what the message says.
        const char* state = no_database ? (message.find("database") != std::string::npos ? "3D000" : "28000")
                            : denied    ? "28P01"
                                        : "08001";
        raise(denied && !no_database ? code::kAuth : code::kCantOpen, utf8_to_cp1252(message),
              ErrorOrigin::server(state));
    }
    // A lock held by another workstation is waited for as long as a file
    // database waits for its lock, then reported. The host's objects are
    // read in the same round trip.
    const std::string settings = "SET lock_timeout = " + std::to_string(kBusyTimeoutMs);
    HostObjects objects;
    PGresult* r = PQexec(conn, (settings + "; " + kHostObjects).c_str());
    if (r && PQresultStatus(r) == PGRES_TUPLES_OK) {
        objects.emplace();
        for (int i = 0; i < PQntuples(r); ++i)
            (*objects)[PQgetvalue(r, i, 0)].push_back(utf8_to_cp1252(PQgetvalue(r, i, 1)));
    } else {
        // The setting, which failed with the catalogue's read, on its own.
        PQclear(r);
        r = PQexec(conn, settings.c_str());
    }
    const bool ok = r && (PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK);
    const std::string message = ok ? "" : one_line(PQerrorMessage(conn));
    const char* failed_state = ok || !r ? nullptr : PQresultErrorField(r, PG_DIAG_SQLSTATE);
    const std::string state = failed_state ? failed_state : "";
    PQclear(r);
    if (!ok) {
        PQfinish(conn);
        raise(code::kCantOpen, utf8_to_cp1252(message), ErrorOrigin::server(state));
    }
    return std::make_shared<PgEngine>(conn, std::move(objects));
}

}  // namespace ondival::platform
