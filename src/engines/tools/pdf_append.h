#pragma once

#include <string>
#include <vector>

namespace tools {

/// Writes `output` as the pages of `first` followed by all pages of each of `others`, without
/// rewriting `first`: its bytes are copied unchanged (shared with the copy where the file system
/// can clone blocks) and an incremental update is appended that holds the other files' pages and
/// everything they use under new object numbers, the first file's page tree root with the new
/// pages added to its kids, and a cross-reference table chained to the old one. The cost is
/// that of the new pages, not of the whole file. It reads the files itself, without a PDF
/// library, so that a tool which only joins starts in a few milliseconds.
///
/// The pages come out as a full qpdf join makes them: the same page dictionaries with the
/// same resources, inherited attributes pushed into the pages of `others`, and a catalog with
/// nothing but the page tree. That holds only for simple inputs, so the update is written
/// only when every input is a plain file (classic cross-reference tables, every object where
/// they say: see plain_pdf.h), nothing is encrypted, the first
/// file is not linearized and has a flat page tree whose root passes nothing down, no page
/// is listed twice, and no page of the other files refers to another page or to a page tree
/// node. Otherwise it returns false, with the reason in `whyNot`, and writes nothing: the caller
/// then joins the files the full way.
///
/// The output is written under a temporary name and renamed when whole. When the caller gives
/// the first file up (FirstFile::MayConsume: a scratch file it deletes next), the update is
/// written onto the first file itself, which is then renamed to the output, so that its bytes
/// are not copied at all; should the update fail, the first file is cut back to its old length
/// and keeps its name. Throws pdftox::WriteError when the output cannot be written.
enum class FirstFile { Keep, MayConsume };
bool appendPages(const std::string& first, const std::vector<std::string>& others,
                 const std::string& output, FirstFile firstFile = FirstFile::Keep,
                 std::string* whyNot = nullptr);

} // namespace tools
