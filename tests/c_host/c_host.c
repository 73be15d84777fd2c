/* A C99 host of the control: proves the C interface compiles as C and works from C, with the
 * ownership rules a C program has to follow. Exits 0 when every check holds; otherwise prints
 * each failed check and exits 1. */
#include <stdio.h>
#include <string.h>

#include "quorvane/quorvane.h"

static int failures = 0;

#define CHECK(cond)                                                 \
  do {                                                              \
    if (!(cond)) {                                                  \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                   \
    }                                                               \
  } while (0)

static void to_utf8(qv_string s, char* buffer, size_t size) { qv_string_to_utf8(s, buffer, size); }

static int32_t id_of(qv_control* control, const char* name) {
  int32_t id = 0;
  CHECK(qv_get_id_of_name(control, name, &id) == QV_S_OK);
  return id;
}

/* Counts events; on onerror, replaces the text so that ErrorString reads the host's words. */
struct heard {
  int errors;
  int32_t last_number;
};

static void on_event(void* context, int32_t dispid, const qv_variant* args, size_t argc) {
  struct heard* h = (struct heard*)context;
  if (dispid != QV_DISPID_ONERROR || argc != 2) return;
  if (args[0].vt != (QV_VT_BYREF | QV_VT_I4) || args[1].vt != (QV_VT_BYREF | QV_VT_BSTR)) return;
  ++h->errors;
  h->last_number = *args[0].u.pi4;
  qv_string_free(*args[1].u.pbstrVal); /* the old text belongs to the library: free it ... */
  *args[1].u.pbstrVal = qv_string_alloc_utf8("handled in C"); /* ... and hand over a new one */
}

int main(void) {
  qv_control* control = qv_control_create();
  qv_variant value, result;
  qv_string text;
  int32_t code;
  qv_bool wildcard;
  char buffer[128];
  struct heard h = {0, 0};
  uint32_t cookie;
  int32_t number = 0;
  qv_variant args[3];

  CHECK(control != NULL);
  if (!control) return 1;

  /* Put and get a 32-bit property, passing a 16-bit value. */
  qv_variant_init(&value);
  value.vt = QV_VT_I2;
  value.u.i2 = 200;
  CHECK(qv_invoke(control, id_of(control, "targetfiletype"), QV_DISPATCH_PROPERTYPUT, &value, 1, NULL, NULL) ==
        QV_S_OK);
  qv_variant_init(&result);
  CHECK(qv_invoke(control, id_of(control, "TargetFileType"), QV_DISPATCH_PROPERTYGET, NULL, 0, &result, NULL) ==
        QV_S_OK);
  CHECK(result.vt == QV_VT_I4 && result.u.i4 == 200);

  /* By-reference write-back: the string the library stores belongs to the caller. */
  text = NULL;
  code = 0;
  qv_variant_init(&args[0]);
  args[0].vt = QV_VT_I4;
  args[0].u.i4 = 4;
  qv_variant_init(&args[1]);
  args[1].vt = QV_VT_BYREF | QV_VT_BSTR;
  args[1].u.pbstrVal = &text;
  qv_variant_init(&args[2]);
  args[2].vt = QV_VT_BYREF | QV_VT_I4;
  args[2].u.pi4 = &code;
  CHECK(qv_invoke(control, id_of(control, "GetFileType"), QV_DISPATCH_METHOD, args, 3, &result, NULL) == QV_S_OK);
  CHECK(result.vt == QV_VT_BOOL && result.u.boolVal == QV_TRUE);
  to_utf8(text, buffer, sizeof buffer);
  CHECK(strcmp(buffer, "PDF-Using PowerPoint") == 0);
  CHECK(code == 32);
  qv_string_free(text);

  code = 17;
  wildcard = QV_TRUE;
  args[0].vt = QV_VT_BYREF | QV_VT_I4;
  args[0].u.pi4 = &code;
  args[1].vt = QV_VT_BYREF | QV_VT_BOOL;
  args[1].u.pboolVal = &wildcard;
  CHECK(qv_invoke(control, id_of(control, "LookUpSaveAsExtension"), QV_DISPATCH_METHOD, args, 2, &result, NULL) ==
        QV_S_OK);
  CHECK(result.vt == QV_VT_BSTR);
  to_utf8(result.u.bstrVal, buffer, sizeof buffer);
  CHECK(strcmp(buffer, "*.jpg") == 0);
  qv_variant_clear(&result);

  /* Events: a failed conversion reports through onerror, and the handler's text stays. */
  cookie = qv_advise(control, on_event, &h);
  CHECK(cookie != 0);
  CHECK(qv_invoke(control, id_of(control, "ConvertFile"), QV_DISPATCH_METHOD, NULL, 0, &result, NULL) == QV_S_OK);
  CHECK(result.vt == QV_VT_I4 && result.u.i4 < 0);
  CHECK(h.errors == 1 && h.last_number == result.u.i4);
  CHECK(qv_invoke(control, id_of(control, "ErrorString"), QV_DISPATCH_PROPERTYGET, NULL, 0, &result, NULL) == QV_S_OK);
  to_utf8(result.u.bstrVal, buffer, sizeof buffer);
  CHECK(strcmp(buffer, "handled in C") == 0);
  qv_variant_clear(&result);
  CHECK(qv_unadvise(control, cookie) == 1);

  /* A member that fails: its number, and its text until the next call. */
  value.vt = QV_VT_BSTR;
  value.u.bstrVal = qv_string_alloc_utf8("/nonexistent-quorvane-folder/sub/out.txt");
  CHECK(qv_invoke(control, id_of(control, "OpenTextFileForWriting"), QV_DISPATCH_METHOD, &value, 1, NULL, &number) ==
        QV_DISP_E_EXCEPTION);
  CHECK(number != 0);
  CHECK(strlen(qv_last_failure_text(control)) > 0);
  qv_variant_clear(&value);

  CHECK(qv_invoke(control, 0x7FFF, QV_DISPATCH_METHOD, NULL, 0, NULL, NULL) == QV_DISP_E_MEMBERNOTFOUND);

  qv_control_destroy(control);
  if (failures == 0) printf("c_host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
