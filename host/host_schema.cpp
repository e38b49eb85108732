#include "host/host_schema.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "host/reference_data.h"
#include "host/server_session.h"
#include "platform/database.h"

namespace ondival::host {
namespace {

// The club application's tables as the import uses them. Column types
// follow what the application stores: texts for codes and dates
// (yyyymmdd), integers for keys, booleans as 0/1.
constexpr const char* kSchema = R"sql(
CREATE TABLE Info (LastClose BOOLEAN NOT NULL DEFAULT 1);
INSERT INTO Info (LastClose) VALUES (1);
CREATE TABLE Pays (code TEXT PRIMARY KEY, Libelle TEXT);
CREATE TABLE Inter_Region (Code INTEGER PRIMARY KEY, Libelle TEXT);
CREATE TABLE Region (Code TEXT PRIMARY KEY, CodeInter INTEGER, Libelle TEXT);
CREATE TABLE Departement (Code TEXT PRIMARY KEY, Region TEXT, Libelle TEXT);
CREATE TABLE Club (
  Num INTEGER PRIMARY KEY AUTOINCREMENT,
  Code_federal TEXT, Intitule TEXT, Selection BOOLEAN);
CREATE INDEX Club_Code_federal ON Club (Code_federal);
CREATE TABLE Licence (
  Num INTEGER PRIMARY KEY AUTOINCREMENT,
  Code_club TEXT, licence TEXT, Nom TEXT, Prenom TEXT, sexe TEXT,
  Date_Naissance TEXT, Nationalite TEXT, Adresse TEXT, Suite_adresse TEXT,
  Code_Postal TEXT, Localite TEXT, Telephone TEXT, Sportive TEXT, Synchro TEXT,
  Water_Polo TEXT, Plongeon TEXT, Dirigeant TEXT, Maitre TEXT, Date_Depot TEXT,
  Date_obliteration TEXT, Type_licence TEXT, Nature TEXT, Code_unique TEXT,
  Date_suppr TEXT);
CREATE INDEX Licence_Club_Licence ON Licence (Code_club, licence);
CREATE INDEX Licence_Nom ON Licence (Nom);
CREATE TABLE Selection (Code_Sel TEXT, Num_Lic INTEGER);
CREATE INDEX Selection_Code_Sel_Num_Lic ON Selection (Code_Sel, Num_Lic);
CREATE TABLE Nage (Code_Nage INTEGER PRIMARY KEY, Sexe TEXT, Libelle TEXT);
CREATE TABLE Liffn (
  Num INTEGER PRIMARY KEY AUTOINCREMENT,
  Code_epreuve INTEGER, Code_club TEXT, Num_Lic INTEGER, Type_bassin INTEGER,
  Date_perf TEXT, Tps NUMERIC, Lieu TEXT, Codif_Fede TEXT, Codif_Inter TEXT,
  Codif_Reg TEXT, Codif_Depart TEXT, Passage_relais TEXT, Age INTEGER,
  Num_compet INTEGER);
CREATE INDEX Liffn_Num_compet ON Liffn (Num_compet);
CREATE TABLE Liffn_relais (
  Num INTEGER PRIMARY KEY AUTOINCREMENT,
  Code_epreuve INTEGER, Code_club TEXT, Num_Lic INTEGER, Type_bassin INTEGER,
  Date_perf TEXT, Tps NUMERIC, Lieu TEXT,
  Licence1 INTEGER, Licence2 INTEGER, Licence3 INTEGER, Licence4 INTEGER,
  Licence5 INTEGER, Licence6 INTEGER, Licence7 INTEGER, Licence8 INTEGER,
  Licence9 INTEGER, Licence10 INTEGER,
  Codif_Fede TEXT, Codif_Inter TEXT, Codif_Reg TEXT, Codif_Depart TEXT,
  Num_compet INTEGER);
CREATE INDEX Liffn_relais_Num_compet ON Liffn_relais (Num_compet);
CREATE TABLE Piscine (Num INTEGER PRIMARY KEY AUTOINCREMENT, Nom TEXT);
CREATE INDEX Piscine_Nom ON Piscine (Nom);
CREATE TABLE Rcomp (
  AutoNum INTEGER PRIMARY KEY AUTOINCREMENT,
  Num TEXT, Type TEXT, Nom TEXT, debut TEXT, fin TEXT, Deroule BOOLEAN,
  Visible BOOLEAN, Num_Piscine INTEGER);
CREATE INDEX Rcomp_Nom ON Rcomp (Nom);
-- The placeholder swimmer that fills the empty places of a relay.
INSERT INTO Licence (Code_club, licence, Nom, Prenom) VALUES ('', '', 'Null', '');
)sql";

class Database {
public:
    ~Database() {
        for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
        if (db_) sqlite3_close(db_);
    }
    std::string open(const std::string& path) {
        const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        return rc == SQLITE_OK ? "" : error();
    }
    std::string exec(const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? "" : error();
    }
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
        statements_.push_back(s);
        return s;
    }
    std::string step(sqlite3_stmt* s) {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return rc == SQLITE_DONE ? "" : error();
    }
    std::string error() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

private:
    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;
};

void bind(sqlite3_stmt* s, int i, const char* text) { sqlite3_bind_text(s, i, text, -1, SQLITE_STATIC); }

std::string fill(Database& db) {
    if (std::string e = db.exec("BEGIN"); !e.empty()) return e;
    if (std::string e = db.exec(kSchema); !e.empty()) return e;
    sqlite3_stmt* pays = db.prepare("INSERT INTO Pays (code, Libelle) VALUES (?, ?)");
    sqlite3_stmt* inter = db.prepare("INSERT INTO Inter_Region (Code, Libelle) VALUES (?, ?)");
    sqlite3_stmt* region = db.prepare("INSERT INTO Region (Code, CodeInter, Libelle) VALUES (?, ?, ?)");
    sqlite3_stmt* dept = db.prepare("INSERT INTO Departement (Code, Region, Libelle) VALUES (?, ?, ?)");
    sqlite3_stmt* nage = db.prepare("INSERT INTO Nage (Code_Nage, Sexe, Libelle) VALUES (?, ?, ?)");
    if (!pays || !inter || !region || !dept || !nage) return db.error();
    for (const Country& c : countries()) {
        bind(pays, 1, c.code);
        bind(pays, 2, c.name);
        if (std::string e = db.step(pays); !e.empty()) return e;
    }
    for (const InterRegion& r : inter_regions()) {
        sqlite3_bind_int(inter, 1, r.code);
        bind(inter, 2, r.name);
        if (std::string e = db.step(inter); !e.empty()) return e;
    }
    for (const Region& r : regions()) {
        bind(region, 1, r.code);
        sqlite3_bind_int(region, 2, r.inter_region);
        bind(region, 3, r.name);
        if (std::string e = db.step(region); !e.empty()) return e;
    }
    for (const Department& d : departments()) {
        bind(dept, 1, d.code);
        bind(dept, 2, d.region);
        bind(dept, 3, d.name);
        if (std::string e = db.step(dept); !e.empty()) return e;
    }
    for (const Stroke& s : strokes()) {
        sqlite3_bind_int(nage, 1, s.code);
        bind(nage, 2, s.sex);
        bind(nage, 3, s.label);
        if (std::string e = db.step(nage); !e.empty()) return e;
    }
    return db.exec("COMMIT");
}

std::string create_file_database(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || ec) return "refusing to create " + path + ": a file already exists there";
    std::string error;
    {
        Database db;
        error = db.open(path);
        if (error.empty()) error = fill(db);
    }
    if (!error.empty()) {
        std::filesystem::remove(path, ec);
        return "cannot create " + path + ": " + error;
    }
    return "";
}

// The same tables on a server. Only what the engines spell differently
// changes: auto numbers, booleans' literals, the performance times (stored
// as reals, as a file database stores them).
std::string server_schema() {
    std::string schema = kSchema;
    const std::pair<const char*, const char*> spellings[] = {
        {"INTEGER PRIMARY KEY AUTOINCREMENT", "INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"},
        {"BOOLEAN NOT NULL DEFAULT 1", "BOOLEAN NOT NULL DEFAULT true"},
        {"INSERT INTO Info (LastClose) VALUES (1)", "INSERT INTO Info (LastClose) VALUES (true)"},
        {"Tps NUMERIC", "Tps DOUBLE PRECISION"},
    };
    for (const auto& [from, to] : spellings)
        for (std::size_t at = schema.find(from); at != std::string::npos; at = schema.find(from, at + 1))
            schema.replace(at, std::strlen(from), to);
    return schema;
}

std::string fill(ServerSession& db) {
    if (!db.exec("BEGIN") || !db.exec(server_schema())) return db.error();
    for (const Country& c : countries())
        if (!db.exec("INSERT INTO Pays (code, Libelle) VALUES ($1, $2)", {c.code, c.name})) return db.error();
    for (const InterRegion& r : inter_regions())
        if (!db.exec("INSERT INTO Inter_Region (Code, Libelle) VALUES ($1, $2)", {std::to_string(r.code), r.name}))
            return db.error();
    for (const Region& r : regions())
        if (!db.exec("INSERT INTO Region (Code, CodeInter, Libelle) VALUES ($1, $2, $3)",
                     {r.code, std::to_string(r.inter_region), r.name}))
            return db.error();
    for (const Department& d : departments())
        if (!db.exec("INSERT INTO Departement (Code, Region, Libelle) VALUES ($1, $2, $3)", {d.code, d.region, d.name}))
            return db.error();
    for (const Stroke& s : strokes())
        if (!db.exec("INSERT INTO Nage (Code_Nage, Sexe, Libelle) VALUES ($1, $2, $3)",
                     {std::to_string(s.code), s.sex, s.label}))
            return db.error();
    return db.exec("COMMIT") ? "" : db.error();
}

// How many of the host tables already exist where the schema would go; -1
// when the server cannot tell.
long existing_tables(ServerSession& db) {
    const ServerResult r = db.query(
        "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
        "AND lower(table_name) IN ('info', 'club', 'licence', 'selection', 'liffn', 'liffn_relais', 'rcomp', "
        "'piscine', 'nage', 'pays', 'inter_region', 'region', 'departement')");
    return r ? std::atol(PQgetvalue(r.get(), 0, 0)) : -1;
}

std::string create_server_database(const std::string& uri) {
    const std::string where = platform::printable_database(uri);
    ServerSession db(uri);
    if (!db.ok()) return "cannot reach " + where + ": " + db.error();
    const long existing = existing_tables(db);
    if (existing < 0) return "cannot read the tables of " + where + ": " + db.error();
    if (existing > 0) return "refusing to create the host tables on " + where + ": they already exist";
    if (std::string e = fill(db); !e.empty()) return "cannot create the host tables on " + where + ": " + e;
    return "";
}

}  // namespace

std::string create_host_database(const std::string& database) {
    return platform::is_postgres_uri(database) ? create_server_database(database) : create_file_database(database);
}

}  // namespace ondival::host
