// PatentText: the invented invention patent a sample number carries: its title, applicant and
// inventors, and the sentences its abstract, claims and description are built from. Used by the
// page generator; all of it is made up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevis {

class PatentText {
 public:
  // The kinds of sentences a patent's text is made of.
  enum class Section {
    Field,       // 技术领域
    Background,  // 背景技术
    Summary,     // 发明内容
    Feature,     // a claim's feature, without its closing punctuation ("所述阀体……")
    Embodiment,  // 具体实施方式, with the patent's own reference numerals and figures
    Closing,     // sentences any description may carry
  };

  // The topic, applicant and inventors follow from `seed` alone (the page generator passes a
  // hash of the number), so the same seed always tells the same patent.
  explicit PatentText(uint64_t seed);

  // "防泄漏截止阀": what the claims call the invention ("根据权利要求1所述的防泄漏截止阀").
  std::string_view Subject() const;
  // The title as printed: "一种" and the subject.
  std::string Title() const;
  // A company, "<city><name><trade>有限公司".
  const std::string& Applicant() const { return applicant_; }
  // Two to four names joined by "、".
  const std::string& Inventors() const { return inventors_; }

  // How many sentences `section` has (at least 2).
  int Count(Section section) const;
  // Sentence `index` of `section`, taken modulo Count(section). Embodiment and closing
  // sentences may carry the place holders "{E}" (this embodiment's number), "{N}" (a count) and
  // "{P}" (a percentage), which Fill replaces.
  std::string_view Sentence(Section section, uint64_t index) const;
  // What figure `figure` shows, for the list of figures: "图2为本发明实施例提供的……".
  std::string FigureView(int figure) const;

 private:
  int topic_;
  std::string applicant_;
  std::string inventors_;
};

// `sentence` with its place holders replaced: "{E}" by `embodiment`, "{N}" and "{P}" by values
// drawn from `seed`.
std::string Fill(std::string_view sentence, int embodiment, uint64_t seed);

}  // namespace brevis
