// The web configuration family (ModifyWebConfig, the client access policy actions, the three-step
// upgrade merge of web.config files and CheckAndSetMSXML). The exports are defined in
// WebConfig.cpp; below are the merge of one file pair (also timed by the benchmark), the MSXML
// probe and the seam through which tests replace it (Wine's msxml3 answers every ProgID, so "MSXML
// absent" cannot be arranged otherwise).
#pragma once

#include "UnicodeString.h"

namespace Msi {

// The merge step of UpdateWebConfigs_Make for one application: the appSettings values saved from
// the previous version's web.config are carried into the installed one, which is rewritten (in the
// saved file's code page) only when a value changed; logs to the custom-action log. Returns true
// when the installed file was written. A missing installed file or a root other than
// "configuration" is logged and gives false. Parse errors, malformed saved entries and write
// failures raise; the installed file is then unchanged.
bool MergeWebConfig(const Vrn::CUnicodeString& savedPath, const Vrn::CUnicodeString& installedPath);

// True when COM gives a working XML DOM document for the ProgID: CLSIDFromProgID, CoCreateInstance
// with CLSCTX_ALL, OleRun and a query for IXMLDOMDocument2 all succeed. Initialises COM on the
// calling thread for the duration when it is not yet. Never raises.
bool XmlDocumentAvailable(const wchar_t* progId);

// The probe CheckAndSetMSXML calls (XmlDocumentAvailable unless a test replaced it).
using XmlDocumentProbe = bool (*)(const wchar_t* progId);

// Replaces the probe for the object's lifetime.
class CXmlDocumentProbeOverride {
 public:
  explicit CXmlDocumentProbeOverride(XmlDocumentProbe probe);
  ~CXmlDocumentProbeOverride();
  CXmlDocumentProbeOverride(const CXmlDocumentProbeOverride&) = delete;
  CXmlDocumentProbeOverride& operator=(const CXmlDocumentProbeOverride&) = delete;

 private:
  XmlDocumentProbe m_previous;
};

}  // namespace Msi
