// The host asks the import to stop (Ctrl-C, a Cancel button) while it runs:
// the call ends at its next line as a call that met an error does, on a
// file and on a server alike. Nothing of the open step stays, nothing is
// staged, the database is marked closed, the trace and the report say the
// import was interrupted; and the request does not outlive the call.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "import/cls_ondival.h"
#include "import/report_json.h"
#include "platform/error.h"
#include "samples/sample_export.h"
#include "tests/report_support.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

// A progress form whose user presses Cancel once the import has read a
// number of lines of one step.
class CancellingForm : public RecordingForm {
public:
    CancellingForm(clsOndival& component, std::string step, long after_lines)
        : component_(component), step_(std::move(step)), after_(after_lines) {}
    void SetStepTitle(const std::string& title) override {
        RecordingForm::SetStepTitle(title);
        in_step_ = title == step_;
        lines_ = 0;
    }
    void SetValue(double v) override {
        RecordingForm::SetValue(v);
        if (in_step_ && v > 0 && ++lines_ == after_) component_.request_stop();
    }

private:
    clsOndival& component_;
    std::string step_;
    long after_;
    bool in_step_ = false;
    long lines_ = 0;
};

class StopRequest : public ::testing::Test, public ImportFixture {
protected:
    StopRequest() {
        samples::SampleExportOptions options;
        options.clubs = 30;
        options.licences = 600;
        options.performances = 1500;
        options.relays = 40;
        EXPECT_EQ(samples::generate_sample_export(source(), options), "");
    }
    std::string stored(const char* table) const { return count(table); }
    void expect_nothing_half_done() const {
        EXPECT_EQ(count("Liffn where Num_compet = -1"), "0");
        EXPECT_EQ(count("Liffn_relais where Num_compet = -1"), "0");
        EXPECT_EQ(count("Rcomp"), "0");
        EXPECT_EQ(count("Info where LastClose = true"), "1");
    }
    void expect_trace_ends_interrupted() const {
        const std::vector<std::string> lines = trace();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Import interrompu.");
        EXPECT_EQ(lines.back(), "Erreur n° 18: Interruption par l'utilisateur");
    }
};

struct Moment {
    const char* name;
    const char* step;  // the form's title of the step the user cancels in
    long after_lines;
    bool clubs_kept, licences_kept;  // what steps committed before it
};

class StopAt : public StopRequest, public ::testing::WithParamInterface<Moment> {};

TEST_P(StopAt, EndsTheCallAsAnErrorDoesAndKeepsOnlyFinishedSteps) {
    const Moment& m = GetParam();
    const std::string clubs = stored("Club"), licences = stored("Licence");
    clsOndival component;
    component.collect_report(true);
    CancellingForm form(component, m.step, m.after_lines);
    const int number =
        error_number([&] { component.bimport_perf(db, source().string(), scratch().string(), trace_path(), &form); });
    EXPECT_EQ(number, 18);
    expect_trace_ends_interrupted();
    expect_nothing_half_done();
    EXPECT_EQ(stored("Club") != clubs, m.clubs_kept);
    EXPECT_EQ(stored("Licence") != licences, m.licences_kept);
    ASSERT_TRUE(component.rapport().error.has_value());
    EXPECT_EQ(component.rapport().error->number, 18);
    EXPECT_FALSE(component.rapport().result.has_value());

    // The request went with the call: the same importer's next call runs to
    // its end, and comes to what an uninterrupted import gives.
    EXPECT_TRUE(component.bimport_perf(db, source().string(), scratch().string(), trace_path(), nullptr));
    EXPECT_EQ(count("Rcomp"), "1");
    EXPECT_EQ(count("Liffn where Num_compet = -1"), "0");
}

INSTANTIATE_TEST_SUITE_P(Steps, StopAt,
                         ::testing::Values(Moment{"InClubs", "Fichier club.txt", 5, false, false},
                                           Moment{"InLicences", "Fichier licence.txt", 200, true, false},
                                           Moment{"InPerformances", "Fichier Liffn.txt", 700, true, true},
                                           Moment{"AtTheLastPerformance", "Fichier Liffn.txt", 1540, true, true}),
                         [](const ::testing::TestParamInfo<Moment>& info) { return std::string(info.param.name); });

// A form that calls `at` once, at the given line of the licence step.
class FormAtLicenceLine : public RecordingForm {
public:
    FormAtLicenceLine(long line, std::function<void()> at) : line_(line), at_(std::move(at)) {}
    void SetStepTitle(const std::string& title) override {
        RecordingForm::SetStepTitle(title);
        in_licences_ = title == "Fichier licence.txt";
    }
    void SetValue(double v) override {
        RecordingForm::SetValue(v);
        if (in_licences_ && v > 0 && ++lines_ == line_) at_();
    }

private:
    long line_;
    std::function<void()> at_;
    bool in_licences_ = false;
    long lines_ = 0;
};

// Two imports on two threads, each through its own importer: a Cancel
// pressed for one stops that one only, even when the other started after it.
TEST_F(StopRequest, StopsTheImportOfItsOwnImporterOnly) {
    ImportFixture other;
    write_lines(other.source() / "club.txt", {club_line(kClub, "CN PARIS")});
    write_lines(other.source() / "licence.txt", {LicenceLine{.club = kClub, .licence = "851234"}.str(),
                                                 LicenceLine{.club = kClub, .licence = "902001"}.str()});
    write_lines(other.source() / "liffn.txt", {PerfLine{.club = kClub, .licence = "851234"}.str()});
    const auto waited = [](std::future<void>& f) { f.wait_for(std::chrono::seconds(60)); };
    std::promise<void> first_in_licences, second_running, first_done;
    std::future<void> first_in = first_in_licences.get_future(), second_in = second_running.get_future(),
                      first_out = first_done.get_future();

    clsOndival first, second;
    bool second_result = false;
    std::thread t([&] {
        waited(first_in);
        FormAtLicenceLine form(1, [&] {
            second_running.set_value();
            waited(first_out);
        });
        second_result = second.bimport_perf(other.db, other.source().string(), other.scratch().string(),
                                            other.trace_path(), &form);
    });
    FormAtLicenceLine form(5, [&] {
        first_in_licences.set_value();
        waited(second_in);
        first.request_stop();
    });
    const int number =
        error_number([&] { first.bimport_perf(db, source().string(), scratch().string(), trace_path(), &form); });
    first_done.set_value();
    t.join();
    EXPECT_EQ(number, 18);
    expect_trace_ends_interrupted();
    EXPECT_TRUE(second_result);
    EXPECT_EQ(other.count("Licence where Nom <> 'Null'"), "2");
}

// A Cancel pressed right after a line that only warned (its club was
// created under "Null"): the licence import stops at no line of its own,
// and the report's stop names none.
TEST_F(StopRequest, AfterALineThatWarnedNamesNoLineInTheReport) {
    ImportFixture small;
    write_lines(small.source() / "club.txt", {club_line(kClub, "CN PARIS")});
    write_lines(small.source() / "licence.txt", {LicenceLine{.club = "FRA5110750009", .licence = "851234"}.str(),
                                                 LicenceLine{.club = kClub, .licence = "902001"}.str()});
    write_lines(small.source() / "liffn.txt", {PerfLine{.club = kClub, .licence = "902001"}.str()});
    clsOndival component;
    component.collect_report(true);
    FormAtLicenceLine form(1, [&] { component.request_stop(); });
    EXPECT_EQ(error_number([&] {
                  component.bimport_perf(small.db, small.source().string(), small.scratch().string(),
                                         small.trace_path(), &form);
              }),
              18);
    const nlohmann::json report = nlohmann::json::parse(report_to_json(component.rapport()));
    ASSERT_EQ(report["entries"].size(), 1u) << report["entries"];
    EXPECT_EQ(report["entries"][0]["kind"], "Warning");
    EXPECT_EQ(report["stop"]["file"], "licence.txt");
    EXPECT_TRUE(report["stop"]["line"].is_null()) << report["stop"];
    expect_report_agrees_with_trace(report, small.trace());
}

TEST_F(StopRequest, AskedBeforeTheCallStopsItAtItsFirstStep) {
    const std::string clubs = stored("Club");
    clsOndival component;
    component.request_stop();
    EXPECT_EQ(error_number(
                  [&] { component.bimport_perf(db, source().string(), scratch().string(), trace_path(), nullptr); }),
              18);
    expect_trace_ends_interrupted();
    expect_nothing_half_done();
    EXPECT_EQ(stored("Club"), clubs);
}

}  // namespace
}  // namespace ondival::test
