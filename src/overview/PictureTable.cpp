#include "overview/PictureTable.h"

#include "syntax/CodeTables.h"

namespace varlow {

void WritePictureLines(const TOverviewData& data, bool csv, const std::function<void(std::string_view)>& out) {
  const char separator = csv ? ',' : '\t';
  if (csv)
    out("offset,size,type,temporal_reference,group,picture_structure,top_field_first,repeat_first_field,"
        "progressive_frame,damaged\n");
  std::string line;
  for (const TPictureRecord& p : data.Pictures) {
    line.clear();
    line += std::to_string(p.Offset);
    line += separator;
    line += std::to_string(p.Size);
    line += separator;
    line += CodingTypeName(p.CodingType);
    line += separator;
    line += std::to_string(p.TemporalReference);
    line += separator;
    if (p.GroupIndex != kNoIndex) line += std::to_string(p.GroupIndex);
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
