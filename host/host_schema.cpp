#include "host/host_schema.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/numeric.h"
#include "host/reference_data.h"
#include "host/server_session.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"

namespace ondival::host {
namespace {

// The club application's tables as the import uses them. Column types
// follow what the application stores: texts for codes and dates
// (yyyymmdd), integers for keys, booleans as 0/1.
constexpr const char* kSchema = R"sql(
CREATE TABLE Info (LastClose BOOLEAN NOT NULL DEFAULT 1);
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
)sql";

// The host tables, as the server's catalogue names them.
constexpr const char* kTables[] = {"info",    "club", "licence", "selection",    "liffn",  "liffn_relais", "rcomp",
                                   "piscine", "nage", "pays",    "inter_region", "region", "departement"};

using platform::Shape;
using platform::Sql;

const Shape kInsertInfo{"INSERT INTO Info (LastClose) VALUES (true)", Shape::insert("Info", {"LastClose"})};
const Shape kInsertPlaceholder{"INSERT INTO Licence (Code_club, licence, Nom, Prenom) VALUES (?, ?, ?, ?)",
                               Shape::insert("Licence", {"Code_club", "licence", "Nom", "Prenom"})};
const Shape kInsertCountry{"INSERT INTO Pays (code, Libelle) VALUES (?, ?)", Shape::insert("Pays", {"code", "Libelle"})};
const Shape kInsertInterRegion{"INSERT INTO Inter_Region (Code, Libelle) VALUES (?, ?)",
                               Shape::insert("Inter_Region", {"Code", "Libelle"})};
const Shape kInsertRegion{"INSERT INTO Region (Code, CodeInter, Libelle) VALUES (?, ?, ?)",
                          Shape::insert("Region", {"Code", "CodeInter", "Libelle"})};
const Shape kInsertDepartement{"INSERT INTO Departement (Code, Region, Libelle) VALUES (?, ?, ?)",
                               Shape::insert("Departement", {"Code", "Region", "Libelle"})};
const Shape kInsertStroke{"INSERT INTO Nage (Code_Nage, Sexe, Libelle) VALUES (?, ?, ?)",
                          Shape::insert("Nage", {"Code_Nage", "Sexe", "Libelle"})};

// A value of the reference data (UTF-8) as the component's text.
std::string text(const char* utf8) { return platform::utf8_to_cp1252(utf8); }

// The rows a new host database starts with, written through the
// connection the import itself uses: the same statements on a file and on
// a server, in one transaction.
void write_rows(platform::Connection& db) {
    db.BeginTrans();
    db.Execute(Sql(kInsertInfo));
    // The placeholder swimmer that fills the empty places of a relay.
    db.Execute(Sql(kInsertPlaceholder).quoted("").quoted("").quoted("Null").quoted(""));
    for (const Country& c : countries()) db.Execute(Sql(kInsertCountry).quoted(text(c.code)).quoted(text(c.name)));
    for (const InterRegion& r : inter_regions())
        db.Execute(Sql(kInsertInterRegion).bare(r.code).quoted(text(r.name)));
    for (const Region& r : regions())
        db.Execute(Sql(kInsertRegion).quoted(text(r.code)).bare(r.inter_region).quoted(text(r.name)));
    for (const Department& d : departments())
        db.Execute(Sql(kInsertDepartement).quoted(text(d.code)).quoted(text(d.region)).quoted(text(d.name)));
    for (const Stroke& s : strokes())
        db.Execute(Sql(kInsertStroke).bare(s.code).quoted(text(s.sex)).quoted(text(s.label)));
    db.CommitTrans();
}

// Writes the rows into the database the tables were just made in; "" on
// success, else the error (UTF-8).
std::string fill_rows(const std::string& database) {
    try {
        platform::Connection db;
        db.Open(database);
        write_rows(db);
        db.Close();
        return "";
    } catch (const platform::Failure& failure) {
        return platform::cp1252_to_utf8(failure.error().description);
    }
}

// The tables of a file database, made through SQLite itself: the import's
// connection lifts every value out of a statement to bind it, and a
// column's default cannot be bound.
std::string create_file_tables(const std::string& path) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, (std::string("BEGIN;") + kSchema + "COMMIT;").c_str(), nullptr, nullptr, nullptr);
    const std::string error = rc == SQLITE_OK ? "" : db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return error;
}

std::string create_file_database(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || ec) return "refusing to create " + path + ": a file already exists there";
    std::string error = create_file_tables(path);
    // Absolute, so that no path is taken for anything but a file.
    if (error.empty()) error = fill_rows(std::filesystem::absolute(path, ec).string());
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
        {"Tps NUMERIC", "Tps DOUBLE PRECISION"},
    };
    for (const auto& [from, to] : spellings)
        for (std::size_t at = schema.find(from); at != std::string::npos; at = schema.find(from, at + 1))
            schema.replace(at, std::strlen(from), to);
    return schema;
}

// How many of the host tables already exist where the schema would go; -1
// when the server cannot tell.
long existing_tables(ServerSession& db) {
    std::string names;
    for (const char* table : kTables) names += std::string(names.empty() ? "'" : ", '") + table + "'";
    const ServerResult r =
        db.query("SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                 "AND lower(table_name) IN (" +
                 names + ")");
    return r ? std::atol(PQgetvalue(r.get(), 0, 0)) : -1;
}

std::string create_server_database(const std::string& uri) {
    const std::string where = platform::printable_database(uri);
    ServerSession db(uri);
    if (!db.ok()) return "cannot reach " + where + ": " + db.error();
    const long existing = existing_tables(db);
    if (existing < 0) return "cannot read the tables of " + where + ": " + db.error();
    if (existing > 0) return "refusing to create the host tables on " + where + ": they already exist";
    if (!db.exec("BEGIN;" + server_schema() + "COMMIT;"))
        return "cannot create the host tables on " + where + ": " + db.error();
    if (std::string e = fill_rows(uri); !e.empty()) {
        // Tables without their reference data would pass for a host
        // database: they go again, and a later init finds the place free.
        std::string tables;
        for (const char* table : kTables) tables += std::string(tables.empty() ? "" : ", ") + table;
        db.exec("DROP TABLE IF EXISTS " + tables);
        return "cannot create the host tables on " + where + ": " + e;
    }
    return "";
}

}  // namespace

std::string create_host_database(const std::string& database) {
    return platform::is_postgres_uri(database) ? create_server_database(database) : create_file_database(database);
}

}  // namespace ondival::host
