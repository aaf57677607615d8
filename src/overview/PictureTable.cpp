#include "overview/PictureTable.h"

#include "syntax/CodeTables.h"

namespace varlow {

void WritePictureLines(const TOverviewData& data, bool csv, const std::function<void(std::string_view)>& out) {
  const char separator = csv ? ',' : '\t';
  if (csv)
    out("offset,size,type,temporal_reference,group,picture_structure,top_field_first,repeat_first_field,"
        "progressive_frame,damaged\n");
  std::string line;
  std::size_t nextGroup = 0;  // groups are met in picture order: no search per picture
  for (std::size_t i = 0; i < data.Pictures.size(); ++i) {
    const TPictureRecord& p = data.Pictures[i];
    while (nextGroup < data.Groups.size() && data.Groups[nextGroup].FirstPicture <= i) ++nextGroup;
    line.clear();
    line += std::to_string(p.Offset());
    line += separator;
    line += std::to_string(p.Size());
    line += separator;
    line += CodingTypeName(p.CodingType());
    line += separator;
    line += std::to_string(p.TemporalReference());
    line += separator;
    if (nextGroup > 0) line += std::to_string(nextGroup - 1);
    if (csv) {
      auto flag = [&line](bool on) {
        line += ',';
        line += on ? '1' : '0';
      };
      line += ',';
      line += std::to_string(p.PictureStructure());
      flag(p.Has(TPictureRecord::kTopFieldFirst));
      flag(p.Has(TPictureRecord::kRepeatFirstField));
      flag(p.Has(TPictureRecord::kProgressiveFrame));
      flag(p.Has(TPictureRecord::kDamaged));
    }
    line += '\n';
    out(line);
  }
}

} // namespace varlow
