// The plain C interface, driven from C++, beyond what the C host (tests/c_host) checks: strings
// and their ownership, refused calls, reference write-back, event callbacks and host-made objects.
#include "quorvane/quorvane.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8(qv_string s) {
  std::string out(qv_string_to_utf8(s, nullptr, 0), '\0');
  qv_string_to_utf8(s, out.data(), out.size() + 1);
  return out;
}

qv_variant Of(uint16_t vt) {
  qv_variant out{};
  out.vt = vt;
  return out;
}
qv_variant Value(int32_t v) {
  qv_variant out = Of(QV_VT_I4);
  out.u.i4 = v;
  return out;
}
qv_variant Text(const char* utf8) {  // owns its string: clear it
  qv_variant out = Of(QV_VT_BSTR);
  out.u.bstrVal = qv_string_alloc_utf8(utf8);
  return out;
}
template <typename T>
qv_variant Ref(uint16_t vt, T* p) {
  qv_variant out = Of(static_cast<uint16_t>(QV_VT_BYREF | vt));
  std::memcpy(&out.u, &p, sizeof p);
  return out;
}

struct Control {
  qv_control* c = qv_control_create();
  ~Control() { qv_control_destroy(c); }
  qv_hresult Invoke(const char* name, uint16_t kind, std::vector<qv_variant> args, qv_variant* result = nullptr,
                    int32_t* number = nullptr) {
    int32_t id = 0;
    EXPECT_EQ(qv_get_id_of_name(c, name, &id), QV_S_OK) << name;
    return qv_invoke(c, id, kind, args.data(), args.size(), result, number);
  }
};

TEST(CApiStrings, AllocateMeasureAndConvert) {
  for (const auto& [utf8, units] : {std::pair<const char*, size_t>{"", 0}, {"abc", 3}, {"Gr\xC3\xBC\xC3\x9F" "e", 5},
                                    {"\xF0\x9F\x98\x80", 2}}) {
    qv_string s = qv_string_alloc_utf8(utf8);
    EXPECT_EQ(qv_string_length(s), units) << utf8;
    EXPECT_EQ(s[units], 0) << utf8 << ": terminated";
    qv_string copy = qv_string_alloc(s, qv_string_length(s));
    EXPECT_EQ(Utf8(copy), utf8);
    qv_string_free(copy);
    qv_string_free(s);
  }
  qv_string zeros = qv_string_alloc(nullptr, 3);
  ASSERT_EQ(qv_string_length(zeros), 3u);
  EXPECT_EQ(zeros[0] | zeros[1] | zeros[2], 0);
  qv_string_free(zeros);
  EXPECT_EQ(qv_string_length(nullptr), 0u);
  EXPECT_EQ(Utf8(nullptr), "");
  qv_string_free(nullptr);
  qv_string s = qv_string_alloc_utf8("abcdef");
  char small[3] = {'x', 'x', 'x'};
  EXPECT_EQ(qv_string_to_utf8(s, small, sizeof small), 6u);
  EXPECT_STREQ(small, "ab");
  qv_string_free(s);
}

TEST(CApiControl, FindsMembersByNameAndRefusesBadCalls) {
  Control x;
  for (const auto& [name, hr, expected] : {std::tuple<const char*, qv_hresult, int32_t>{"convertfile", QV_S_OK, 0x60030093},
                                           {"ERRORSTRING", QV_S_OK, 0x6803006F}, {"NoSuchThing", QV_DISP_E_UNKNOWNNAME, -1}}) {
    int32_t id = -1;
    EXPECT_EQ(qv_get_id_of_name(x.c, name, &id), hr) << name;
    EXPECT_EQ(id, expected) << name;
  }
  int32_t id = 0;
  EXPECT_EQ(qv_get_id_of_name(nullptr, "ConvertFile", &id), QV_E_POINTER);
  EXPECT_EQ(qv_get_id_of_name(x.c, nullptr, &id), QV_E_POINTER);
  int16_t shortValue = 1;
  int32_t* nullTarget = nullptr;
  qv_variant nested = Ref(QV_VT_I4, &shortValue);
  const struct {
    std::string label; const char* name; uint16_t kind; std::vector<qv_variant> args; qv_hresult hr;
  } rows[] = {
      {"put on read-only", "PercentageComplete", QV_DISPATCH_PROPERTYPUT, {Value(1)}, QV_DISP_E_MEMBERNOTFOUND},
      {"I2 reference for I4", "FileTypeSupportsSingleFileOutput", QV_DISPATCH_METHOD, {Ref(QV_VT_I2, &shortValue)},
       QV_DISP_E_TYPEMISMATCH},
      {"unknown variant type", "TargetFileType", QV_DISPATCH_PROPERTYPUT, {Of(99)}, QV_DISP_E_BADVARTYPE},
      {"reference of an unsupported type", "TargetFileType", QV_DISPATCH_PROPERTYPUT, {Ref(QV_VT_UI4, &shortValue)},
       QV_DISP_E_BADVARTYPE},
      {"variant reference to a reference", "GetErrorString", QV_DISPATCH_METHOD, {Ref(QV_VT_VARIANT, &nested)},
       QV_DISP_E_BADVARTYPE},
      {"null reference", "FileTypeSupportsSingleFileOutput", QV_DISPATCH_METHOD, {Ref(QV_VT_I4, nullTarget)},
       QV_E_POINTER},
  };
  for (const auto& row : rows) {
    qv_variant result{};
    EXPECT_EQ(x.Invoke(row.name, row.kind, row.args, &result), row.hr) << row.label;
    EXPECT_EQ(result.vt, QV_VT_EMPTY) << row.label;
  }
  EXPECT_EQ(qv_invoke(x.c, 0x12345, QV_DISPATCH_METHOD, nullptr, 0, nullptr, nullptr), QV_DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(qv_invoke(x.c, 0x6003008C, QV_DISPATCH_METHOD, nullptr, 3, nullptr, nullptr), QV_E_POINTER);
  EXPECT_EQ(qv_invoke(nullptr, 0x60030093, QV_DISPATCH_METHOD, nullptr, 0, nullptr, nullptr), QV_E_POINTER);
  EXPECT_STREQ(qv_last_failure_text(nullptr), "");
  EXPECT_STREQ(qv_last_failure_cause(nullptr, nullptr), "");
  std::string log(qv_diagnostic_log_path(nullptr, 0), '\0');
  qv_diagnostic_log_path(log.data(), log.size() + 1);
  EXPECT_TRUE(log.ends_with("/Quorvane.log")) << log;
  // Output options: a refused set leaves its problem as the failure text.
  qv_output_options options{};
  options.pixel_width = 640;
  options.dots_per_inch = 96;
  EXPECT_EQ(qv_set_output_options(x.c, &options), QV_E_INVALIDARG);
  EXPECT_NE(std::string(qv_last_failure_text(x.c)).find("not both"), std::string::npos) << qv_last_failure_text(x.c);
  options.dots_per_inch = 0;
  options.name_pattern = "slide-{n:02}.png";
  EXPECT_EQ(qv_set_output_options(x.c, &options), QV_S_OK);
}

TEST(CApiControl, ValuesCrossAsCVariantsAndReferencesAreReplacedOnlyWhenWritten) {
  Control x;
  qv_variant path = Text("  C:\\in.pptx  "), result{};
  EXPECT_EQ(x.Invoke("InputFile", QV_DISPATCH_PROPERTYPUT, {path}), QV_S_OK);
  qv_variant_clear(&path);
  EXPECT_EQ(path.vt, QV_VT_EMPTY);
  ASSERT_EQ(x.Invoke("inputfile", QV_DISPATCH_PROPERTYGET | QV_DISPATCH_METHOD, {}, &result), QV_S_OK);
  ASSERT_EQ(result.vt, QV_VT_BSTR);
  EXPECT_EQ(Utf8(result.u.bstrVal), "C:\\in.pptx");
  qv_variant_clear(&result);
  ASSERT_EQ(x.Invoke("lNumberOfFileTypes", QV_DISPATCH_PROPERTYGET, {}, &result), QV_S_OK);
  EXPECT_EQ(result.vt, QV_VT_I2);
  EXPECT_EQ(result.u.i2, 36);
  ASSERT_EQ(x.Invoke("OptimizeForSpeed", QV_DISPATCH_PROPERTYGET, {}, &result), QV_S_OK);
  EXPECT_EQ(result.vt, QV_VT_BOOL);
  EXPECT_EQ(result.u.boolVal, QV_TRUE);

  // A string reference that is not written keeps the caller's string (a written one: tests/c_host).
  qv_string description = qv_string_alloc_utf8("old"), before = description;
  int32_t code = -1;
  ASSERT_EQ(x.Invoke("GetFileType", QV_DISPATCH_METHOD, {Value(99), Ref(QV_VT_BSTR, &description), Ref(QV_VT_I4, &code)},
                     &result),
            QV_S_OK);
  EXPECT_EQ(description, before) << "nothing written: the same string stays";
  qv_string_free(description);
  qv_variant held = Of(QV_VT_I2);
  held.u.i2 = -6;
  ASSERT_EQ(x.Invoke("GetErrorString", QV_DISPATCH_METHOD, {Ref(QV_VT_VARIANT, &held)}, &result), QV_S_OK);
  EXPECT_EQ(Utf8(result.u.bstrVal), "Input and Output Filename are same");
  EXPECT_EQ(held.vt, QV_VT_I2);
  qv_variant_clear(&result);

  qv_string bad = qv_string_alloc_utf8("/nonexistent-quorvane-folder/sub/out.txt");
  int32_t number = 0;
  EXPECT_EQ(x.Invoke("OpenTextFileForWriting", QV_DISPATCH_METHOD, {Ref(QV_VT_BSTR, &bad)}, nullptr, &number),
            QV_DISP_E_EXCEPTION);
  qv_string_free(bad);
  ASSERT_EQ(x.Invoke("GetAllPossibleErrorsCount", QV_DISPATCH_METHOD, {}, &result, &number), QV_S_OK);
  EXPECT_EQ(number, 0);
  EXPECT_STREQ(qv_last_failure_text(x.c), "") << "a successful call clears the text";
}

struct Heard {
  std::vector<int32_t> numbers;
  std::vector<std::string> texts;
  const char* replacement = nullptr;  // NULL: leave the text alone; "": store a NULL string
  const char* put = nullptr;          // set ErrorString to this through qv_invoke instead
  qv_control* control = nullptr;
};

void OnEvent(void* context, int32_t dispid, const qv_variant* args, size_t argc) {
  auto* heard = static_cast<Heard*>(context);
  if (dispid != QV_DISPID_ONERROR || argc != 2) return;
  if (args[0].vt != (QV_VT_BYREF | QV_VT_I4) || args[1].vt != (QV_VT_BYREF | QV_VT_BSTR)) return;
  heard->numbers.push_back(*args[0].u.pi4);
  heard->texts.push_back(Utf8(*args[1].u.pbstrVal));
  if (heard->replacement) {
    qv_string_free(*args[1].u.pbstrVal);
    *args[1].u.pbstrVal = *heard->replacement ? qv_string_alloc_utf8(heard->replacement) : nullptr;
  }
  if (heard->put) {
    int32_t id = 0;
    qv_variant text = Text(heard->put);
    if (qv_get_id_of_name(heard->control, "ErrorString", &id) == QV_S_OK)
      qv_invoke(heard->control, id, QV_DISPATCH_PROPERTYPUT, &text, 1, nullptr, nullptr);
    qv_variant_clear(&text);
  }
}

// A handler may rewrite ErrorString through its by-reference argument or through the control
// itself: either way the host reads its text afterwards. The failure's cause is there beside it.
TEST(CApiEvents, OnErrorReachesTheCallbackWhichMayRewriteErrorString) {
  const struct {
    const char* label; const char* replacement; const char* put;
  } rows[] = {{"untouched", nullptr, nullptr}, {"emptied", "", nullptr},
              {"put through qv_invoke", nullptr, "Put by the C host"}};
  for (const auto& row : rows) {
    Control x;
    Heard heard{{}, {}, row.replacement, row.put, x.c};
    const uint32_t cookie = qv_advise(x.c, OnEvent, &heard);
    ASSERT_NE(cookie, 0u);
    qv_variant result{}, text{};
    ASSERT_EQ(x.Invoke("ConvertFile", QV_DISPATCH_METHOD, {}, &result), QV_S_OK) << row.label;
    EXPECT_LT(result.u.i4, 0);
    ASSERT_EQ(heard.numbers, std::vector<int32_t>{result.u.i4}) << row.label;
    EXPECT_FALSE(heard.texts[0].empty()) << row.label;
    ASSERT_EQ(x.Invoke("ErrorString", QV_DISPATCH_PROPERTYGET, {}, &text), QV_S_OK);
    EXPECT_EQ(Utf8(text.u.bstrVal), row.put ? row.put : row.replacement ? row.replacement : heard.texts[0]) << row.label;
    qv_variant_clear(&text);
    int32_t number = -1;
    EXPECT_STREQ(qv_last_failure_cause(x.c, &number), "InputFile is empty") << row.label;
    EXPECT_EQ(number, 5) << row.label;
    EXPECT_EQ(qv_unadvise(x.c, cookie), 1);
    EXPECT_EQ(qv_unadvise(x.c, cookie), 0);
    ASSERT_EQ(x.Invoke("ConvertFile", QV_DISPATCH_METHOD, {}, &result), QV_S_OK);
    EXPECT_EQ(heard.numbers.size(), 1u) << row.label << ": no events after unadvise";
  }
  EXPECT_EQ(qv_advise(nullptr, OnEvent, nullptr), 0u);
  Control x;
  EXPECT_EQ(qv_advise(x.c, nullptr, nullptr), 0u);
}

// A host object: Shout (id 2) appends "!" to its by-reference string, Fail (id 3) always fails.
qv_hresult HostGetId(void*, const char* name, int32_t* dispid) {
  const std::string n = name;
  *dispid = n == "Shout" ? 2 : n == "Fail" ? 3 : 0;
  return *dispid ? QV_S_OK : QV_DISP_E_UNKNOWNNAME;
}

qv_hresult HostInvoke(void*, int32_t dispid, uint16_t, const qv_variant* args, size_t argc, qv_variant* result,
                      int32_t* excep_number, qv_string* excep_description) {
  if (dispid == 3) {
    *excep_number = 1234;
    *excep_description = qv_string_alloc_utf8("the host object refuses");
    return QV_DISP_E_EXCEPTION;
  }
  if (dispid != 2) return QV_DISP_E_MEMBERNOTFOUND;
  if (argc != 1 || args[0].vt != (QV_VT_BYREF | QV_VT_BSTR)) return QV_DISP_E_TYPEMISMATCH;
  const std::string shouted = Utf8(*args[0].u.pbstrVal) + "!";
  qv_string_free(*args[0].u.pbstrVal);
  *args[0].u.pbstrVal = qv_string_alloc_utf8(shouted.c_str());
  if (result) *result = Text("shouted");
  return QV_S_OK;
}

void HostDestroy(void* context) { ++*static_cast<int*>(context); }

TEST(CApiDispatch, HostObjectsAnswerThroughTheirCallbacks) {
  int destroyed = 0;
  const qv_dispatch_callbacks callbacks = {HostGetId, HostInvoke, HostDestroy}, incomplete = {HostGetId, nullptr, nullptr};
  qv_dispatch* object = qv_dispatch_create(&callbacks, &destroyed);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(qv_dispatch_create(&incomplete, &destroyed), nullptr);
  int32_t id = 0;
  ASSERT_EQ(qv_dispatch_get_id_of_name(object, "Shout", &id), QV_S_OK);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(qv_dispatch_get_id_of_name(object, "Whisper", &id), QV_DISP_E_UNKNOWNNAME);
  qv_string word = qv_string_alloc_utf8("hey");
  qv_variant arg = Ref(QV_VT_BSTR, &word), result{};
  ASSERT_EQ(qv_dispatch_invoke(object, 2, QV_DISPATCH_METHOD, &arg, 1, &result, nullptr, nullptr), QV_S_OK);
  EXPECT_EQ(Utf8(word), "hey!");
  EXPECT_EQ(Utf8(result.u.bstrVal), "shouted");
  qv_variant_clear(&result);
  qv_string_free(word);
  int32_t number = 0;
  qv_string description = nullptr;
  EXPECT_EQ(qv_dispatch_invoke(object, 3, QV_DISPATCH_METHOD, nullptr, 0, &result, &number, &description),
            QV_DISP_E_EXCEPTION);
  EXPECT_EQ(number, 1234);
  EXPECT_EQ(Utf8(description), "the host object refuses");
  qv_string_free(description);
  Control x;  // the object as TextFromGroupShape's shape: the member may ask it for its members
  qv_variant shape = Of(QV_VT_DISPATCH);
  shape.u.dispVal = qv_dispatch_addref(object);
  const qv_hresult hr = x.Invoke("TextFromGroupShape", QV_DISPATCH_METHOD, {shape}, &result, &number);
  EXPECT_TRUE(hr == QV_S_OK || hr == QV_DISP_E_EXCEPTION) << std::hex << hr;
  qv_variant_clear(&result);
  qv_variant_clear(&shape);
  EXPECT_EQ(destroyed, 0);
  qv_dispatch_release(object);
  EXPECT_EQ(destroyed, 1) << "the last reference gone, the host object is destroyed once";
}

}  // namespace

namespace {

// Documents and accounts: refused arguments, a failure's number and description, and the account of
// a file that cannot be read (a failure reported inside it, not returned).
TEST(CApiDocuments, RefuseBadArgumentsAndTellFailures) {
  char error[256] = "untouched";
  EXPECT_EQ(qv_export_document(nullptr, "out.md", QV_DOCUMENT_MARKDOWN, error, sizeof error), QV_E_POINTER);
  EXPECT_STREQ(error, "");
  EXPECT_EQ(qv_export_document("in.pptx", "out.md", 7, nullptr, 0), QV_E_INVALIDARG);
  EXPECT_EQ(qv_export_document("/nonexistent/in.pptx", "/nonexistent/out.json", QV_DOCUMENT_JSON, error, sizeof error),
            static_cast<int32_t>(0x80070003u));
  EXPECT_NE(std::string(error).find("/nonexistent/in.pptx"), std::string::npos) << error;
  const size_t length = qv_inspect("/nonexistent/in.pptx", nullptr, 0);
  std::string account(length, '\0');
  EXPECT_EQ(qv_inspect("/nonexistent/in.pptx", account.data(), length + 1), length);
  EXPECT_EQ(account.rfind("{\"path\":\"/nonexistent/in.pptx\",\"ok\":false,\"encrypted\":false,", 0), 0u) << account;
  EXPECT_EQ(qv_inspect(nullptr, error, sizeof error), 0u);
}

}  // namespace
