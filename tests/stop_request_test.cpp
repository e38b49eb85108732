// The host asks the import to stop (Ctrl-C, a Cancel button) while it runs:
// the call ends at its next line as a call that met an error does, on a
// file and on a server alike. Nothing of the open step stays, nothing is
// staged, the database is marked closed, the trace and the report say the
// import was interrupted; and the request does not outlive the call.
#include <gtest/gtest.h>

#include "import/cls_ondival.h"
#include "platform/error.h"
#include "samples/sample_export.h"
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
