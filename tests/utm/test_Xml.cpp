#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "uIniFile.h"
#include "uXml.h"

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const std::string kXsi = "http://www.w3.org/2001/XMLSchema-instance";

std::string LoadError(const std::string& text) {
    try {
        LoadXmlFrom(text);
    } catch (const EXmlException& e) {
        return e.what();
    }
    ADD_FAILURE() << "loaded: " << text;
    return "";
}

TEST(LoadXmlFrom, CutsOffAnythingBeforeTheFirstTag) {
    const char* const cases[] = {
        "abc<?xml version=\"1.0\" encoding=\"UTF-8\"?><A><ver>2</ver></A>",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><A><ver>2</ver></A>",
        " \r\n\t<A><ver>2</ver></A>",
        "<A><ver>2</ver></A>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        TXmlDocument doc = LoadXmlFrom(std::string(text));
        ASSERT_TRUE(doc.documentElement());
        EXPECT_EQ(doc.documentElement().nodeName(), "A");
        EXPECT_EQ(doc.selectSingleNode("/A/ver").text(), "2");
    }
}

TEST(LoadXmlFrom, EmptyOrTaglessTextRaises) {
    for (const char* text : {"", "   ", "no markup at all"}) {
        SCOPED_TRACE(text);
        std::string msg = LoadError(text);
        EXPECT_EQ(msg.rfind("Ошибка создания XML: ", 0), 0u) << msg;
        EXPECT_EQ(msg.find("Ошибка создания XML: 0"), std::string::npos) << msg;
    }
}

TEST(LoadXmlFrom, ErrorMessageCarriesDiagnosisAndWholeText) {
    const std::string text = "garbage<A>\n  <b>x</c>\n</A>";
    std::string msg = LoadError(text);
    std::smatch m;
    static const std::regex layout(
        "^Ошибка создания XML: ([0-9]+)\r\nОписание ошибки: ([^\r\n]+)\r\n"
        "Строка: ([0-9]+), Позиция: ([0-9]+)Исходный текст: ([^\r\n]*)\r\nXML текст:\r\n");
    ASSERT_TRUE(std::regex_search(msg, m, layout)) << msg;
    EXPECT_NE(m[1], "0");
    EXPECT_EQ(m[3], "2");  // the line in the text after the cut
    EXPECT_NE(m[4], "0");
    EXPECT_EQ(m[5], "  <b>x</c>");
    EXPECT_EQ(msg.substr(static_cast<size_t>(m.length(0))), text);  // exactly as passed
}

TEST(LoadXmlFrom, AHugeDocumentIsQuotedByItsFirstKilobyteOnly) {
    std::string text = "<A>";
    while (text.size() < 2'000'000)
        text += "ёлка ";  // two-byte letters: the cut must not split one
    text += "</B>";
    const std::string msg = LoadError(text);
    EXPECT_LT(msg.size(), 3000u);
    const size_t at = msg.find("XML текст:\r\n<A>ёлка ");
    ASSERT_NE(std::string::npos, at) << msg.substr(0, 300);
    EXPECT_NE(std::string::npos, msg.find("... (" + std::to_string(text.size()) + " bytes)"));
    EXPECT_TRUE(IsValidUtf8(msg));
}

TEST(LoadXmlFrom, StreamKeepsCyrillic) {
    const std::string cyr = "Пиво светлое «Жигулёвское», ООО \"Ромашка\"";
    std::istringstream in(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<ns:Documents xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\">"
        "<ns:Name a=\"Ёлка\">" +
        cyr + "</ns:Name></ns:Documents>");
    TXmlDocument doc = LoadXmlFrom(in);
    TXmlNode name = doc.selectSingleNode("//ns:Name");
    ASSERT_TRUE(name);
    EXPECT_EQ(name.text(), cyr);
    EXPECT_EQ(name.getAttribute("a").value_or(""), "Ёлка");
    EXPECT_NE(doc.xml().find(cyr), std::string::npos) << "written as characters, not references";
}

TEST(LoadXmlFrom, RefusesEntitiesAndExternalDtds) {
    const char* const cases[] = {
        "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]><r>&xxe;</r>",
        "<!DOCTYPE r [<!ENTITY % pe SYSTEM \"file:///etc/passwd\"> %pe;]><r/>",
        "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/evil.dtd\"><r/>",
        "<!DOCTYPE r PUBLIC \"-//X//DTD X//EN\" \"file:///etc/passwd\"><r/>",
        "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]><r>&b;</r>",
        "<r>&undeclared;</r>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        std::string msg = LoadError(text);
        EXPECT_EQ(msg.rfind("Ошибка создания XML: ", 0), 0u) << msg;
        EXPECT_EQ(msg.find("root:"), std::string::npos) << "file content leaked";
    }
    // A DOCTYPE that only names the root is harmless.
    EXPECT_EQ(LoadXmlFrom("<!DOCTYPE r><r>1</r>").documentElement().text(), "1");
}

TEST(LoadXmlFrom, ErrorsAreNeverPrintedAndStayWithTheirCall) {
    testing::internal::CaptureStderr();
    EXPECT_THROW(LoadXmlFrom("<A><b></A>"), EXmlException);
    EXPECT_THROW(LoadXmlFrom("<A/>").selectNodes("//url[@replyId ="), EXmlException);
    EXPECT_THROW(LoadXmlFrom("<x:A/>"), EXmlException);  // unbound prefix
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // Threads failing at once each see their own diagnosis.
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches] {
            const std::string bad = "<A>\n<t" + std::to_string(t) + "></A>";
            for (int i = 0; i < 200; ++i) {
                try {
                    LoadXmlFrom(bad);
                    ++mismatches[t];
                } catch (const EXmlException& e) {
                    std::string msg = e.what();
                    if (msg.find("Исходный текст: <t" + std::to_string(t) + "></A>") ==
                        std::string::npos)
                        ++mismatches[t];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

struct TPrefixCase {
    const char* Document;
    const char* Query;
    bool bFound;
};

TEST(XPathPrefixes, MatchByNamespaceWhateverTheDocumentsPrefix) {
    const TPrefixCase cases[] = {
        {"<a:Documents xmlns:a=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\" "
         "xmlns:z=\"http://fsrar.ru/WEGAIS/Common\"><z:INN>1</z:INN></a:Documents>",
         "/ns:Documents/c:INN", true},
        {"<Documents xmlns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\"><INN>1</INN></Documents>",
         "/ns:Documents/ns:INN", true},
        {"<q:T xmlns:q=\"http://fsrar.ru/WEGAIS/ConfirmTicket\"/>", "/ctc:T", true},
        {"<q:T xmlns:q=\"http://fsrar.ru/WEGAIS/ConfirmTicket\"/>", "/wt:T", true},
        {"<oref:INN xmlns:oref=\"http://fsrar.ru/WEGAIS/ClientRef_v2\">1</oref:INN>", "/oref:INN",
         false},
        {"<c:INN xmlns:c=\"http://fsrar.ru/WEGAIS/Common\">1</c:INN>", "/INN", false},
        {"<A><url>1</url></A>", "//url[1]", true},
        {"<rfa:R xmlns:rfa=\"http://fsrar.ru/WEGAIS/ReplyFormA\"/>", "/rfb:R", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Document) + "  " + c.Query);
        EXPECT_EQ(static_cast<bool>(LoadXmlFrom(std::string(c.Document)).selectSingleNode(c.Query)),
                  c.bFound);
    }
    ASSERT_EQ(EgaisPrefixes().size(), 25u);
    EXPECT_EQ(
        EgaisSelectionNamespaces().rfind("xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\" "
                                         "xmlns:c=\"http://fsrar.ru/WEGAIS/Common\" ",
                                         0),
        0u);
}

TEST(XPath, NodeListsAndFaultyExpressions) {
    TXmlDocument doc = LoadXmlFrom("<A><url>1</url><b><url>2</url></b><url>3</url></A>");
    TXmlNodeList list = doc.selectNodes("//url");
    ASSERT_EQ(list.length(), 3);
    EXPECT_EQ(list.item(0).text() + list.item(1).text() + list.item(2).text(), "123");
    EXPECT_FALSE(list.item(3));
    EXPECT_FALSE(list.item(-1));
    EXPECT_FALSE(doc.selectSingleNode("//none"));
    EXPECT_EQ(doc.selectNodes("//none").length(), 0);
    EXPECT_EQ(doc.documentElement().selectSingleNode("b/url").text(), "2");  // relative to the node
    EXPECT_THROW(doc.selectNodes("//["), EXmlException);
    EXPECT_THROW(doc.selectNodes("count(//url)"), EXmlException);
}

TEST(XPathLiteral, QuotesAnyTextSafely) {
    const std::string texts[] = {"plain",  "it's", "say \"hi\"", "both ' and \"",
                                 "''\"\"", "'",    "\"'",        "x' or '1'='1"};
    for (const std::string& t : texts) {
        SCOPED_TRACE(t);
        TXmlDocument doc = TXmlDocument::Create();
        TXmlNode root = doc.appendChild(doc.createElement("A"));
        for (const std::string& v : {t, std::string("other")}) {
            TXmlNode url = root.appendChild(doc.createElement("url"));
            url.setAttribute("replyId", v);
            url.setText(v == t ? "hit" : "miss");
        }
        TXmlDocument reloaded = LoadXmlFrom(doc.xml());
        TXmlNodeList found = reloaded.selectNodes("//url[@replyId = " + XPathLiteral(t) + "]");
        ASSERT_EQ(found.length(), 1);
        EXPECT_EQ(found.item(0).text(), "hit");
    }
    EXPECT_EQ(XPathLiteral("a'b\"c"), "concat('a', \"'\", 'b\"c')");
}

TEST(NodeHelpers, NodeShortName) {
    const std::pair<const char*, const char*> cases[] = {
        {"oref:INN", "INN"}, {"INN", "INN"}, {"a:b:c", "b:c"}, {"", ""}, {":x", "x"}, {"x:", ""}};
    for (const auto& [name, shortName] : cases) EXPECT_EQ(NodeShortName(name), shortName) << name;
}

TEST(NodeHelpers, GetChildNodeByNameOrLocalName) {
    TXmlDocument doc = LoadXmlFrom(
        "<r xmlns:oref=\"http://fsrar.ru/WEGAIS/ClientRef\" xmlns:z=\"urn:z\">"
        "<oref:KPP>kpp</oref:KPP>text<z:INN>z-inn</z:INN><oref:INN>oref-inn</oref:INN><Plain>p</"
        "Plain></r>");
    const std::pair<const char*, const char*> cases[] = {
        {"oref:INN", "z-inn"},  // the first child whose local name matches
        {"INN", "z-inn"},      {"z:INN", "z-inn"}, {"x:KPP", "kpp"},     {"Plain", "p"},
        {"oref:Plain", "p"},   {"inn", nullptr},   {"Missing", nullptr}, {"#text", "text"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        TXmlNode n = GetChildNode(doc.documentElement(), name);
        if (text == nullptr) {
            EXPECT_FALSE(n);
        } else {
            ASSERT_TRUE(n);
            EXPECT_EQ(n.text(), text);
        }
    }
    EXPECT_FALSE(GetChildNode(TXmlNode(), "INN"));
}

// How a document is built: the builder creates elements with prefixed names and adds
// the xmlns declarations as attributes; the order of these steps must not matter.
enum TBuildOrder { boDeclareFirst, boDeclareLast, boDeclareOnElement };

class BuiltEnvelope : public testing::TestWithParam<TBuildOrder> {};

TXmlDocument BuildEnvelope(TBuildOrder order) {
    TXmlDocument doc = TXmlDocument::Create();
    doc.appendChild(doc.createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\""));
    TXmlNode early = doc.createElement("c:INN");  // made before anything is declared
    early.setText("7700000000");
    TXmlNode root = doc.appendChild(doc.createElement("ns:Documents"));
    auto declare = [&](TXmlNode on, bool bWithWb) {
        const std::pair<const char*, std::string> attrs[] = {
            {"Version", "1.0"},
            {"xmlns:xsi", kXsi},
            {"xmlns:ns", EgaisNamespace("WB_DOC_SINGLE_01")},
            {"xmlns:c", EgaisNamespace("Common")},
            {"xmlns:wb", EgaisNamespace("TTNSingle_v4")},
        };
        for (const auto& [name, value] : attrs) {
            if (!bWithWb && std::string(name) == "xmlns:wb") continue;
            TXmlNode a = doc.createAttribute(name);
            a.setNodeValue(value);
            on.attributes().setNamedItem(a);
        }
    };
    if (order == boDeclareFirst) declare(root, true);
    TXmlNode owner = root.appendChild(doc.createElement("ns:Owner"));
    owner.appendChild(doc.createElement("ns:FSRAR_ID")).setText("030000000001");
    TXmlNode wb = root.appendChild(doc.createElement("ns:Document"))
                      .appendChild(doc.createElement("wb:WayBill_v4"));
    wb.appendChild(doc.createElement("wb:Note")).setText("Пиво <светлое> & \"тёмное\"");
    wb.appendChild(early);
    TXmlNode typed = wb.appendChild(doc.createElement("wb:Type"));
    typed.setAttribute("xsi:nil", "false");
    if (order == boDeclareLast) declare(root, true);
    if (order == boDeclareOnElement) {
        declare(root, false);
        // Declared on the element itself once it and its children exist.
        wb.setAttribute("xmlns:wb", EgaisNamespace("TTNSingle_v4"));
    }
    return doc;
}

void ExpectEnvelope(const TXmlDocument& doc) {
    TXmlNode root = doc.documentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(root.nodeName(), "ns:Documents");
    EXPECT_EQ(root.namespaceURI(), EgaisNamespace("WB_DOC_SINGLE_01"));
    EXPECT_EQ(root.getAttribute("Version").value_or(""), "1.0");
    EXPECT_EQ(doc.selectSingleNode("/ns:Documents/ns:Owner/ns:FSRAR_ID").text(), "030000000001");
    TXmlNode inn = doc.selectSingleNode("/ns:Documents/ns:Document/*/c:INN");
    ASSERT_TRUE(inn);
    EXPECT_EQ(inn.text(), "7700000000");
    TXmlNode note = GetChildNode(doc.selectSingleNode("//ns:Document"), "WayBill_v4").firstChild();
    EXPECT_EQ(note.nodeName(), "wb:Note");
    EXPECT_EQ(note.namespaceURI(), EgaisNamespace("TTNSingle_v4"));
    EXPECT_EQ(note.text(), "Пиво <светлое> & \"тёмное\"");
    TXmlNode nil = GetChildNode(note.parentNode(), "Type").attributes().getNamedItem("xsi:nil");
    ASSERT_TRUE(nil);
    EXPECT_EQ(nil.namespaceURI(), kXsi);
    EXPECT_EQ(nil.nodeValue(), "false");
}

TEST_P(BuiltEnvelope, IsNamespacedBeforeAndAfterARoundTrip) {
    TXmlDocument doc = BuildEnvelope(GetParam());
    {
        SCOPED_TRACE("as built");
        ExpectEnvelope(doc);
    }
    EXPECT_THROW(doc.selectSingleNode("//*[@xsi:nil]"), EXmlException);  // not a fixed prefix
    doc.setProperty("SelectionNamespaces", "xmlns:xsi=\"" + kXsi + "\"");
    EXPECT_TRUE(doc.selectSingleNode("//*[@xsi:nil = 'false']"));
    EXPECT_FALSE(doc.selectSingleNode("//wb:Type"))
        << "wb: is TTNSingle, the document's is TTNSingle_v4";
    const std::string text = doc.xml();
    EXPECT_EQ(text.rfind(kDecl + "\n<ns:Documents ", 0), 0u) << text;
    EXPECT_EQ(text.find("<?xml", 1), std::string::npos) << "one declaration only";
    EXPECT_NE(text.find("Пиво &lt;светлое&gt; &amp; \"тёмное\""), std::string::npos) << text;
    const std::string nsDecl = "xmlns:ns=\"" + EgaisNamespace("WB_DOC_SINGLE_01") + "\"";
    EXPECT_EQ(text.find(nsDecl), text.rfind(nsDecl)) << "declared once: " << text;

    TXmlDocument reloaded = LoadXmlFrom(text);
    {
        SCOPED_TRACE("reloaded");
        ExpectEnvelope(reloaded);
    }
    EXPECT_EQ(reloaded.xml(), text);

    qortest::TempDir dir;
    const std::string path = (dir.Path() / "doc.xml").string();
    doc.save(path);
    EXPECT_EQ(qortest::ReadFile(path), text);
    EXPECT_THROW(doc.save((dir.Path() / "missing" / "doc.xml").string()), EXmlException);
}

INSTANTIATE_TEST_SUITE_P(Orders, BuiltEnvelope,
                         testing::Values(boDeclareFirst, boDeclareLast, boDeclareOnElement));

TEST(XmlDom, ReplacedAndRemovedNodesStayUsable) {
    TXmlDocument doc = LoadXmlFrom("<A><b>1</b><c>2</c></A>");
    TXmlNode root = doc.documentElement();
    TXmlNode b = root.firstChild();
    TXmlNode c = root.removeChild(root.lastChild());
    root.setText("new");
    EXPECT_EQ(doc.xml(), kDecl + "\n<A>new</A>\n");
    EXPECT_EQ(b.text(), "1");
    EXPECT_FALSE(b.parentNode());
    root.insertBefore(c, root.firstChild());
    root.appendChild(doc.createTextNode(" tail"));  // beside another text node
    EXPECT_EQ(root.xml(), "<A><c>2</c>new tail</A>");
    EXPECT_EQ(root.childNodes().length(), 3);
    EXPECT_THROW(doc.appendChild(doc.createElement("Second")), EXmlException);
    EXPECT_THROW(c.appendChild(root), EXmlException);
    EXPECT_THROW(root.appendChild(TXmlDocument::Create().createElement("x")), EXmlException);
    EXPECT_THROW(TXmlNode().text(), EXmlException);
    doc = TXmlDocument();
    EXPECT_EQ(c.text(), "2") << "a node keeps its document alive";
}

}  // namespace
