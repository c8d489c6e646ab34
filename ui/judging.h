// The window's judge of results: the correction methods and limit profiles of the shipped and
// the lab's folders, the profiles chosen to judge by, and an assessor on the archive that
// reads each specimen's history once and keeps its verdicts until something changes. The
// main window judges the result just completed with it; the archive's window its list, its
// result page, the temperature trend and the specimen report.
#pragma once

#include "archive/archive.h"
#include "assess/report.h"

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

class ResultJudge {
public:
    // Reads the files of both folders; what is left out is in Problems().
    void Load(const std::string& shipped, const std::string& lab);
    const assess::Library& Lib() const { return Lib_; }
    const std::vector<std::string>& Problems() const { return Lib_.Problems; }

    // The profiles to judge by: a name, names parted by commas, "all", or empty for the
    // default. False (and the choice as it was) for an unknown name.
    bool Choose(const std::string& named);
    // The choice as Choose takes it.
    const std::string& Chosen() const { return Chosen_; }
    const std::vector<const assess::Profile*>& Profiles() const { return Profiles_; }

    // The assessment of a result in its specimen's history; nothing when the archive cannot
    // tell (Error() says why). Valid until Forget or the next call on another archive.
    const assess::ResultAssessment* Of(archive::Archive& a, const archive::Result& r);
    // The same for a row of the list: a result with a specimen is judged by its id alone;
    // one without is read whole.
    const assess::ResultAssessment* Of(archive::Archive& a, const archive::Row& row);
    // A specimen's whole history judged, oldest first, with its results.
    archive::Outcome<assess::SpecimenAssessment>
    Specimen(archive::Archive& a, const std::string& name,
             std::vector<archive::Result>* results = nullptr);
    // Drops what was judged: a specimen, a result or the choice of profiles has changed.
    void Forget();
    const std::string& Error() const { return Error_; }

private:
    assess::ArchiveAssessor& On(archive::Archive& a);

    assess::Library Lib_;
    std::string Chosen_;
    std::vector<const assess::Profile*> Profiles_;
    archive::Archive* Archive_ = nullptr;
    std::unique_ptr<assess::ArchiveAssessor> Assessor_;
    std::string Error_;
};

// 合格, 注意, 异常.
QString LevelWord(assess::Level l);
QString LevelWord(const std::optional<assess::Level>& l); // empty without a level
// The level's colour (QColor takes it).
QString LevelColourName(assess::Level l);
// Every verdict and warning of a result, a line each: for a tooltip.
QString VerdictLines(const assess::ResultAssessment& a);
// The level and the worst verdict in a few words: what the live result page shows. Empty
// without a level.
QString ShortVerdict(const assess::ResultAssessment& a);
// The whole assessment of a result as rich text: the raw and corrected dissipation factor with
// the method and factor, the values compared, each verdict with its source, the warnings.
QString AssessmentHtml(const assess::ResultAssessment& a, const assess::Library& lib);

// Chinese names of the specimen classes and references, for the choices.
QString ClassWord(archive::SpecimenClass c);
QString ReferenceWord(archive::Reference r);

// A number the operator typed in the specimen's panel: blanks around it allowed; empty text is
// "not given" (Ok, no value). Not Ok when it is no number, not finite, negative, or zero where
// it must be positive.
struct TypedNumber {
    std::optional<double> Value;
    bool Ok = true;
};
TypedNumber ReadTypedNumber(const QString& text, bool positive);

} // namespace dielmon
