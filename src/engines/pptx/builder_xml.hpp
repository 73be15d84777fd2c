#pragma once
// Fixed XML pieces the deck builder writes into every part it makes (private to the builder).
namespace quorvane::engines::pptx::builder::xml_pieces {

// The declaration Office writes at the top of a part.
inline constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
// The namespaces of a slide-like part's root element.
inline constexpr const char* kNamespaces =
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
    " xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";
// The properties of a shape tree's root group.
inline constexpr const char* kRootGroup =
    "<p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
    "<p:grpSpPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"0\" cy=\"0\"/><a:chOff x=\"0\" y=\"0\"/>"
    "<a:chExt cx=\"0\" cy=\"0\"/></a:xfrm></p:grpSpPr>";

}  // namespace quorvane::engines::pptx::builder::xml_pieces
