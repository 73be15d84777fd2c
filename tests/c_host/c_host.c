/* A C99 host of the control: proves the C interface compiles as C and works from C, with the
 * ownership rules a C program has to follow. Exits 0 when every check holds; otherwise prints
 * each failed check and exits 1. */
#include <stdio.h>
#include <string.h>

#include "quorvane/quorvane.h"

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static qv_hresult call(qv_control* control, const char* name, uint16_t kind, qv_variant* args, size_t argc,
                       qv_variant* result, int32_t* number) {
  int32_t id = 0;
  CHECK(qv_get_id_of_name(control, name, &id) == QV_S_OK);
  return qv_invoke(control, id, kind, args, argc, result, number);
}

/* On onerror, replaces the text so that ErrorString reads the host's words. */
static void on_event(void* context, int32_t dispid, const qv_variant* args, size_t argc) {
  if (dispid != QV_DISPID_ONERROR || argc != 2 || args[1].vt != (QV_VT_BYREF | QV_VT_BSTR)) return;
  *(int32_t*)context = *args[0].u.pi4;
  qv_string_free(*args[1].u.pbstrVal);                        /* the old text belongs to the library: free it ... */
  *args[1].u.pbstrVal = qv_string_alloc_utf8("handled in C"); /* ... and hand over a new one */
}

int main(void) {
  qv_control* control = qv_control_create();
  qv_variant args[3], result;
  qv_string text = NULL;
  int32_t code = 0, number = 0, reported = 0;
  char buffer[128];
  uint32_t cookie;

  if (!control) return 1;
  /* Put a 16-bit value into a 32-bit property and read it back. */
  qv_variant_init(&args[0]);
  args[0].vt = QV_VT_I2;
  args[0].u.i2 = 200;
  CHECK(call(control, "targetfiletype", QV_DISPATCH_PROPERTYPUT, args, 1, NULL, NULL) == QV_S_OK);
  qv_variant_init(&result);
  CHECK(call(control, "TargetFileType", QV_DISPATCH_PROPERTYGET, NULL, 0, &result, NULL) == QV_S_OK);
  CHECK(result.vt == QV_VT_I4 && result.u.i4 == 200);

  /* By-reference write-back: the string the library stores belongs to the caller. */
  args[0].vt = QV_VT_I4;
  args[0].u.i4 = 4;
  qv_variant_init(&args[1]);
  args[1].vt = QV_VT_BYREF | QV_VT_BSTR;
  args[1].u.pbstrVal = &text;
  qv_variant_init(&args[2]);
  args[2].vt = QV_VT_BYREF | QV_VT_I4;
  args[2].u.pi4 = &code;
  CHECK(call(control, "GetFileType", QV_DISPATCH_METHOD, args, 3, &result, NULL) == QV_S_OK);
  CHECK(result.vt == QV_VT_BOOL && result.u.boolVal == QV_TRUE);
  qv_string_to_utf8(text, buffer, sizeof buffer);
  CHECK(strcmp(buffer, "PDF-Using PowerPoint") == 0 && code == 32);
  qv_string_free(text);

  /* Events: a failed conversion reports through onerror, and the handler's text stays. */
  cookie = qv_advise(control, on_event, &reported);
  CHECK(call(control, "ConvertFile", QV_DISPATCH_METHOD, NULL, 0, &result, NULL) == QV_S_OK);
  CHECK(result.vt == QV_VT_I4 && result.u.i4 < 0 && reported == result.u.i4);
  CHECK(call(control, "ErrorString", QV_DISPATCH_PROPERTYGET, NULL, 0, &result, NULL) == QV_S_OK);
  qv_string_to_utf8(result.u.bstrVal, buffer, sizeof buffer);
  CHECK(strcmp(buffer, "handled in C") == 0);
  qv_variant_clear(&result);
  CHECK(qv_unadvise(control, cookie) == 1);

  /* A member that fails: its number, and its text until the next call. */
  args[0].vt = QV_VT_BSTR;
  args[0].u.bstrVal = qv_string_alloc_utf8("/nonexistent-quorvane-folder/sub/out.txt");
  CHECK(call(control, "OpenTextFileForWriting", QV_DISPATCH_METHOD, args, 1, NULL, &number) == QV_DISP_E_EXCEPTION);
  CHECK(number != 0 && strlen(qv_last_failure_text(control)) > 0);
  qv_variant_clear(&args[0]);

  qv_control_destroy(control);
  if (failures == 0) printf("c_host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
