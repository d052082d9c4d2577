/* mint._mint: the CPython extension under the `mint` package.
 *
 * It converts Python values to the C interface's plain fields (lib/mint.h),
 * one record at a time (uuid) or a column at a time (derive_columns), and
 * turns refusals into mint.RecordError. The C interface is linked in
 * statically, so the module needs no shared library at run time.
 *
 * Value rules, the same on both paths: None, a float NaN and pandas.NA are
 * "not given", and so is an empty text; text fields take str; number fields
 * take int (not bool) and floats that are whole numbers. A number outside
 * the 32-bit range, or a float with a fraction, is a refused value, as
 * mintbatch refuses such a field.
 *
 * Number fields also take texts, judged by the C interface exactly as
 * mintbatch judges a CSV field; derive_columns takes gender codes and a
 * date column for each person's birth; map_columns maps column names
 * to fields as mintbatch --by-name maps its header.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <datetime.h>

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "key_text.h"
#include "mint.h"

#define FIELD_COUNT 12
/* A number the C interface refuses in every field: it lies outside every
 * range and is not MINT_NOT_GIVEN. Numbers the module cannot pass on as
 * themselves (beyond 32 bits, fractions, INT32_MIN) become this. */
#define REFUSED_NUMBER (INT32_MIN + 1)

typedef struct {
    PyObject *record_error; /* mint.RecordError */
    PyObject *zero_id;      /* "000000000000", shared by every zero result */
} module_state;

static module_state *get_state(PyObject *module) { return (module_state *)PyModule_GetState(module); }

/* Field i (0 to 11) is the C interface's field i + 1, in the CSV column
 * order; each person's name and SSN are texts, the other four numbers. */
static int field_is_text(int i) { return i % 6 < 2; }
static const char *field_name(int i) { return mint_field_name(i + 1); }

/* The column arrays of all twelve fields, indexed by field; only the text
 * or the number entry of a field is used. */
typedef struct {
    const char **texts[FIELD_COUNT];
    int32_t *numbers[FIELD_COUNT];
} column_arrays;

static void fill_columns(mint_columns *columns, const column_arrays *arrays) {
    columns->patient_name = arrays->texts[0];
    columns->patient_ssn = arrays->texts[1];
    columns->patient_gender = arrays->numbers[2];
    columns->patient_birth_year = arrays->numbers[3];
    columns->patient_birth_month = arrays->numbers[4];
    columns->patient_birth_day = arrays->numbers[5];
    columns->policy_name = arrays->texts[6];
    columns->policy_ssn = arrays->texts[7];
    columns->policy_gender = arrays->numbers[8];
    columns->policy_birth_year = arrays->numbers[9];
    columns->policy_birth_month = arrays->numbers[10];
    columns->policy_birth_day = arrays->numbers[11];
}

/* " in row N" for a value of a column; nothing for a single record. */
static void row_suffix(char *buffer, size_t size, Py_ssize_t row) {
    if (row < 0) {
        buffer[0] = '\0';
    } else {
        PyOS_snprintf(buffer, size, " in row %zd", row);
    }
}

/* 1 when `value` is pandas.<missing> (NA, NaT), 0 when not, -1 on error. A
 * value can only be one when pandas is loaded, so this never imports it. */
static int is_pandas_missing(PyObject *value, const char *missing) {
    PyObject *name = PyUnicode_FromString("pandas");
    if (name == NULL) {
        return -1;
    }
    PyObject *pandas = PyImport_GetModule(name);
    Py_DECREF(name);
    if (pandas == NULL) {
        return PyErr_Occurred() ? -1 : 0;
    }
    PyObject *na = PyObject_GetAttrString(pandas, missing);
    Py_DECREF(pandas);
    if (na == NULL) {
        PyErr_Clear();
        return 0;
    }
    const int same = value == na;
    Py_DECREF(na);
    return same;
}

static int is_pandas_na(PyObject *value) { return is_pandas_missing(value, "NA"); }

/* 1 when `value` is a numpy floating-point scalar that is no Python float
 * (numpy.float32, numpy.float16, numpy.longdouble), 0 when not, -1 on
 * error. Only a loaded numpy can have made one, so this never imports it. */
static int is_numpy_floating(PyObject *value) {
    PyObject *name = PyUnicode_FromString("numpy");
    if (name == NULL) {
        return -1;
    }
    PyObject *numpy = PyImport_GetModule(name);
    Py_DECREF(name);
    if (numpy == NULL) {
        return PyErr_Occurred() ? -1 : 0;
    }
    PyObject *floating = PyObject_GetAttrString(numpy, "floating");
    Py_DECREF(numpy);
    if (floating == NULL) {
        PyErr_Clear();
        return 0;
    }
    const int is = PyType_Check(floating) ? PyObject_IsInstance(value, floating) : 0;
    Py_DECREF(floating);
    return is;
}

/* A numpy floating-point scalar as a Python float, exactly: NULL with no
 * exception when its value has no double of the same value (a long double
 * with a fraction too small for a double), which no whole 32-bit number
 * is. NaN stays NaN. */
static PyObject *exact_float(PyObject *value) {
    PyObject *as_float = PyNumber_Float(value);
    if (as_float == NULL || isnan(PyFloat_AS_DOUBLE(as_float))) {
        return as_float;
    }
    const int same = PyObject_RichCompareBool(value, as_float, Py_EQ);
    if (same <= 0) {
        Py_CLEAR(as_float);
    }
    return as_float;
}

/* numpy.bool_ has __index__, but a truth value is no gender or date. */
static int is_bool(PyObject *value) {
    return PyBool_Check(value) || strcmp(Py_TYPE(value)->tp_name, "numpy.bool_") == 0;
}

/* A text field's value: *text becomes the UTF-8 text, or NULL when the
 * field is not given. The text belongs to `value`, which the caller keeps
 * alive. Returns 0, or -1 with an exception set. */
static int text_value(PyObject *value, int field, Py_ssize_t row, const char **text) {
    char where[48];
    if (PyUnicode_Check(value)) {
        Py_ssize_t size;
        const char *utf8 = PyUnicode_AsUTF8AndSize(value, &size);
        if (utf8 == NULL) {
            return -1;
        }
        if (strlen(utf8) != (size_t)size) {
            /* A C text would end at the zero and lose what follows it. */
            row_suffix(where, sizeof where, row);
            PyErr_Format(PyExc_ValueError, "%s: embedded null character%s", field_name(field), where);
            return -1;
        }
        *text = utf8;
        return 0;
    }
    if (value == Py_None || (PyFloat_Check(value) && isnan(PyFloat_AS_DOUBLE(value)))) {
        *text = NULL;
        return 0;
    }
    const int floating = is_numpy_floating(value);
    if (floating < 0) {
        return -1;
    }
    if (floating) {
        /* A NaN of numpy's narrower or wider floats is not given, as a float's. */
        PyObject *as_float = PyNumber_Float(value);
        if (as_float == NULL) {
            return -1;
        }
        const int nan = isnan(PyFloat_AS_DOUBLE(as_float));
        Py_DECREF(as_float);
        if (nan) {
            *text = NULL;
            return 0;
        }
    }
    const int na = is_pandas_na(value);
    if (na != 0) {
        *text = NULL;
        return na < 0 ? -1 : 0;
    }
    row_suffix(where, sizeof where, row);
    PyErr_Format(PyExc_TypeError, "%s must be str or None, not %.100s%s%s", field_name(field),
                 Py_TYPE(value)->tp_name, where,
                 (field % 6 == 1 && (PyLong_Check(value) || PyFloat_Check(value)))
                     ? " (read SSNs as text, so that their leading zeros stay)"
                     : "");
    return -1;
}

static int32_t checked_number(long long number) {
    return number > INT32_MIN && number <= INT32_MAX ? (int32_t)number : REFUSED_NUMBER;
}

/* How a column call reads number fields given as texts. */
typedef struct {
    int has_codes;
    mint_gender_codes codes;  /* gender codes, when has_codes */
    int32_t date_format;      /* MINT_DATE_... */
} text_rules;

/* A str's UTF-8 for the C interface's text readers (NULL with an
 * exception on error). A zero byte ends the text there, as it ends a CSV
 * field's text for mintbatch. */
static const char *number_text(PyObject *value) {
    return PyUnicode_AsUTF8(value);
}

/* A number field's value: *number becomes the value, MINT_NOT_GIVEN, or
 * REFUSED_NUMBER. A str is judged as mintbatch judges the CSV field (with
 * the gender codes of `rules`). Returns 0, or -1 with
 * an exception set. */
static int number_value(PyObject *value, int field, Py_ssize_t row, int32_t *number, const text_rules *rules) {
    char where[48];
    if (rules != NULL && PyUnicode_Check(value)) {
        const char *text = number_text(value);
        if (text == NULL) {
            return -1;
        }
        if (field % 6 == 2) {
            mint_read_gender(text, rules->has_codes ? &rules->codes : NULL, number);
        } else {
            mint_read_number(text, number);
        }
        return 0;
    }
    if (PyLong_Check(value) && !PyBool_Check(value)) {
        int overflow;
        const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (n == -1 && PyErr_Occurred()) {
            return -1;
        }
        *number = overflow ? REFUSED_NUMBER : checked_number(n);
        return 0;
    }
    if (PyFloat_Check(value)) {
        const double d = PyFloat_AS_DOUBLE(value);
        if (isnan(d)) {
            *number = MINT_NOT_GIVEN;
        } else if (d > (double)INT32_MIN && d <= (double)INT32_MAX && d == floor(d)) {
            *number = (int32_t)d;
        } else {
            *number = REFUSED_NUMBER;
        }
        return 0;
    }
    if (value == Py_None) {
        *number = MINT_NOT_GIVEN;
        return 0;
    }
    if (!is_bool(value) && PyIndex_Check(value)) {
        /* numpy's integer scalars */
        PyObject *integer = PyNumber_Index(value);
        if (integer == NULL) {
            return -1;
        }
        const int status = number_value(integer, field, row, number, rules);
        Py_DECREF(integer);
        return status;
    }
    const int floating = is_numpy_floating(value);
    if (floating < 0) {
        return -1;
    }
    if (floating) {
        /* numpy.float64 is a float; its narrower and wider kin are judged
         * by the same rule, on their exact value. */
        PyObject *as_float = exact_float(value);
        if (as_float == NULL) {
            *number = REFUSED_NUMBER;
            return PyErr_Occurred() ? -1 : 0;
        }
        const int status = number_value(as_float, field, row, number, rules);
        Py_DECREF(as_float);
        return status;
    }
    const int na = is_pandas_na(value);
    if (na != 0) {
        *number = MINT_NOT_GIVEN;
        return na < 0 ? -1 : 0;
    }
    row_suffix(where, sizeof where, row);
    PyErr_Format(PyExc_TypeError, "%s must be int%s or None, not %.100s%s", field_name(field),
                 rules != NULL ? ", str" : "", Py_TYPE(value)->tp_name, where);
    return -1;
}

/* The shortest secret a key= may be: as short as a key file's may be. */
#define KEY_MIN_BYTES (MINT_KEY_TEXT_MIN_DIGITS / 2)

/* Raises the OSError of `error` (FileNotFoundError for ENOENT, ...), whose
 * text is `message` alone, as the programs print it. */
static void raise_os_error(int error, PyObject *message) {
    PyObject *number = PyLong_FromLong(error);
    /* OSError(errno, text) picks the subclass for the errno. */
    PyObject *probe = number == NULL ? NULL : PyObject_CallFunctionObjArgs(PyExc_OSError, number, message, NULL);
    PyObject *raised = probe == NULL ? NULL : PyObject_CallOneArg((PyObject *)Py_TYPE(probe), message);
    if (raised != NULL && PyObject_SetAttrString(raised, "errno", number) == 0) {
        PyErr_SetObject((PyObject *)Py_TYPE(raised), raised);
    }
    Py_XDECREF(raised);
    Py_XDECREF(probe);
    Py_XDECREF(number);
}

/* Reads the key file at `path` (str, bytes or os.PathLike) into *secret, by
 * the programs' rules and with their words: OSError when it cannot be
 * opened or read, ValueError when it holds no key, and a UserWarning when
 * group or others may read or write it. Returns 0, or -1 with an exception
 * set and *secret wiped. */
static int read_key_into(PyObject *path, mint_key_text *secret) {
    mint_key_text_start(secret);
    PyObject *encoded = NULL;
    if (!PyUnicode_FSConverter(path, &encoded)) {
        return -1;
    }
    PyObject *shown = PyUnicode_DecodeFSDefaultAndSize(PyBytes_AS_STRING(encoded), PyBytes_GET_SIZE(encoded));
    if (shown == NULL) {
        Py_DECREF(encoded);
        return -1;
    }
    int fd;
    int error = 0;
    Py_BEGIN_ALLOW_THREADS
    fd = open(PyBytes_AS_STRING(encoded), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
    }
    Py_END_ALLOW_THREADS
    Py_DECREF(encoded);
    if (fd < 0) {
        PyObject *message = PyUnicode_FromFormat("Unable to open key file '%U'.", shown);
        if (message != NULL) {
            raise_os_error(error, message);
            Py_DECREF(message);
        }
        Py_DECREF(shown);
        return -1;
    }
    struct stat status;
    const int shared = fstat(fd, &status) == 0 && (status.st_mode & 077) != 0;
    unsigned char chunk[256];
    int fault = MINT_KEY_TEXT_OK;
    int failed = 0;
    for (;;) {
        ssize_t got;
        Py_BEGIN_ALLOW_THREADS
        got = read(fd, chunk, sizeof chunk);
        error = got < 0 ? errno : 0;
        Py_END_ALLOW_THREADS
        if (got < 0 && error == EINTR) {
            if (PyErr_CheckSignals() < 0) {
                failed = 1;
                break;
            }
            continue;
        }
        if (got < 0) {
            PyObject *message = PyUnicode_FromFormat("Unable to read key file '%U'.", shown);
            if (message != NULL) {
                raise_os_error(error, message);
                Py_DECREF(message);
            }
            failed = 1;
            break;
        }
        if (got == 0) {
            fault = mint_key_text_finish(secret);
            break;
        }
        fault = mint_key_text_take(secret, chunk, (size_t)got);
        if (fault != MINT_KEY_TEXT_OK) {
            break;
        }
    }
    close(fd);
    mint_key_text_wipe(chunk, sizeof chunk);
    if (!failed && fault != MINT_KEY_TEXT_OK) {
        PyErr_Format(PyExc_ValueError, "Key file '%U' is not a key: %s.", shown, mint_key_text_fault(fault));
        failed = 1;
    }
    if (!failed && shared &&
        PyErr_WarnFormat(PyExc_UserWarning, 1,
                         "key file '%U' is open to other users; keep it to its owner (chmod 600).", shown) < 0) {
        failed = 1;  /* the warning was made an error */
    }
    Py_DECREF(shown);
    if (failed) {
        mint_key_text_wipe(secret, sizeof *secret);
        return -1;
    }
    return 0;
}

/* The secret of a call's options, from key= or key_file=, held until
 * release_key. */
typedef struct {
    Py_buffer view;        /* key='s buffer; view.obj is NULL when none */
    unsigned char *copy;   /* key='s bytes in order, when its buffer is not contiguous */
    Py_ssize_t copy_size;
    int from_file;         /* the secret is in `file` */
    mint_key_text file;
} key_hold;

static void release_key(key_hold *hold) {
    if (hold->copy != NULL) {
        mint_key_text_wipe(hold->copy, (size_t)hold->copy_size);
        PyMem_Free(hold->copy);
        hold->copy = NULL;
    }
    if (hold->view.obj != NULL) {
        PyBuffer_Release(&hold->view);
        hold->view.obj = NULL;
    }
    if (hold->from_file) {
        mint_key_text_wipe(&hold->file, sizeof hold->file);
        hold->from_file = 0;
    }
}

/* Refuses a key= that can be mistaken: one shorter than a key file's
 * secret, or a key file's text (hex digits) where its secret belongs, which
 * would silently give other identifiers than the programs give for that
 * file. The messages never show the key. Returns 0, or -1 with an
 * exception set. */
static int check_key_bytes(const unsigned char *bytes, Py_ssize_t length) {
    if (length == 0) {
        /* No key would silently mean unkeyed identifiers. */
        PyErr_SetString(PyExc_ValueError, "key must not be empty (None gives unkeyed identifiers)");
        return -1;
    }
    if (length < KEY_MIN_BYTES) {
        PyErr_SetString(PyExc_ValueError, "key must hold at least 16 bytes, as a key file's secret does");
        return -1;
    }
    if (mint_key_text_resembles(bytes, (size_t)length)) {
        PyErr_SetString(PyExc_ValueError,
                        "key holds the text of a key file (hex digits), not its secret: read the file with "
                        "mint.read_key(path), or pass key_file=path");
        return -1;
    }
    return 0;
}

/* The secret of a keyed identifier: key=, None or a bytes-like object of 16
 * bytes or more, or key_file=, the path of a key file; not both. Fills
 * *options' key from *hold, which the caller releases with release_key when
 * this returned 0. Returns 0, or -1 with an exception set. */
static int key_option(PyObject *key, PyObject *key_file, key_hold *hold, mint_options *options) {
    hold->view.obj = NULL;
    hold->copy = NULL;
    hold->copy_size = 0;
    hold->from_file = 0;
    if (key != Py_None && key_file != Py_None) {
        PyErr_SetString(PyExc_TypeError, "give key= or key_file=, not both");
        return -1;
    }
    if (key_file != Py_None) {
        if (read_key_into(key_file, &hold->file) < 0) {
            return -1;
        }
        hold->from_file = 1;
        options->key = hold->file.bytes;
        options->key_length = hold->file.digits / 2;
        return 0;
    }
    if (key == Py_None) {
        return 0;
    }
    if (PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "key must be bytes-like, not str (encode it first)");
        return -1;
    }
    /* Any buffer, also a strided one (a memoryview slice): its bytes in order. */
    if (PyObject_GetBuffer(key, &hold->view, PyBUF_FULL_RO) < 0) {
        hold->view.obj = NULL;
        PyErr_Format(PyExc_TypeError, "key must be bytes-like or None, not %.100s", Py_TYPE(key)->tp_name);
        return -1;
    }
    const unsigned char *bytes = hold->view.buf;
    const Py_ssize_t length = hold->view.len;
    if (!PyBuffer_IsContiguous(&hold->view, 'C')) {
        hold->copy = PyMem_Malloc(length > 0 ? (size_t)length : 1);
        if (hold->copy == NULL) {
            release_key(hold);
            PyErr_NoMemory();
            return -1;
        }
        hold->copy_size = length;
        if (PyBuffer_ToContiguous(hold->copy, &hold->view, length, 'C') < 0) {
            release_key(hold);
            return -1;
        }
        bytes = hold->copy;
    }
    if (check_key_bytes(bytes, length) < 0) {
        release_key(hold);
        return -1;
    }
    options->key = bytes;
    options->key_length = (size_t)length;
    return 0;
}

/* Sets mint.RecordError for a refused record; `row` is NULL for a single
 * record, else the row's label. Returns NULL. */
static PyObject *set_record_error(module_state *state, const mint_result *result, PyObject *row) {
    if (result->status != MINT_REFUSED && result->status != MINT_INCOMPLETE) {
        PyErr_SetString(PyExc_SystemError, "mint: the C interface refused the call's arguments");
        return NULL;
    }
    const char *text = mint_result_text(result);
    const char *field = result->status == MINT_REFUSED ? mint_field_name(result->field) : "";
    const size_t field_length = strlen(field);
    /* The interface's text for a field is "FIELD: REASON". */
    const char *reason = text;
    if (field_length > 0 && strncmp(text, field, field_length) == 0 && text[field_length] == ':') {
        reason = text + field_length + 1;
        while (*reason == ' ') {
            ++reason;
        }
    }
    PyObject *message = row == NULL ? PyUnicode_FromString(text) : PyUnicode_FromFormat("row %R: %s", row, text);
    if (message == NULL) {
        return NULL;
    }
    PyObject *error = PyObject_CallOneArg(state->record_error, message);
    Py_DECREF(message);
    if (error == NULL) {
        return NULL;
    }
    PyObject *field_object = field_length > 0 ? PyUnicode_FromString(field) : Py_NewRef(Py_None);
    PyObject *reason_object = PyUnicode_FromString(reason);
    if (field_object == NULL || reason_object == NULL || PyObject_SetAttrString(error, "field", field_object) < 0 ||
        PyObject_SetAttrString(error, "reason", reason_object) < 0 ||
        PyObject_SetAttrString(error, "row", row == NULL ? Py_None : row) < 0) {
        Py_XDECREF(field_object);
        Py_XDECREF(reason_object);
        Py_DECREF(error);
        return NULL;
    }
    Py_DECREF(field_object);
    Py_DECREF(reason_object);
    PyErr_SetObject(state->record_error, error);
    Py_DECREF(error);
    return NULL;
}

PyDoc_STRVAR(uuid_doc,
"uuid($module, /, patient_name=None, patient_ssn=None, patient_gender=None,\n"
"     patient_birth_year=None, patient_birth_month=None, patient_birth_day=None,\n"
"     policy_name=None, policy_ssn=None, policy_gender=None,\n"
"     policy_birth_year=None, policy_birth_month=None, policy_birth_day=None,\n"
"     *, lenient_ssn=False, key=None, key_file=None)\n"
"--\n"
"\n"
"The identifier of one record, given by keyword; None means not given.\n"
"\n"
"Returns the 12-character identifier, or '000000000000' when nobody has an\n"
"SSN. Raises RecordError when the record is refused: a given value is\n"
"refused, or an SSN is given but neither key has all its fields.\n"
"\n"
"key: the secret of keyed identifiers, 16 bytes or more (read a key file\n"
"with read_key); key_file: the path of a key file to read it from.");

/* mint.uuid's work, on values the caller holds. */
static PyObject *uuid_of(module_state *state, PyObject *const *values, int lenient, PyObject *key,
                         PyObject *key_file) {
    /* Numbers given as texts are judged as mintbatch judges a CSV field, so
     * that a row of a frame read with CSV_OPTIONS gives what uuids gives. */
    text_rules numbers_as_texts;
    memset(&numbers_as_texts, 0, sizeof numbers_as_texts);
    mint_person people[2] = {MINT_PERSON_INIT, MINT_PERSON_INIT};
    for (int i = 0; i < FIELD_COUNT; ++i) {
        mint_person *person = &people[i / 6];
        int status;
        switch (i % 6) {
            case 0: status = text_value(values[i], i, -1, &person->name); break;
            case 1: status = text_value(values[i], i, -1, &person->ssn); break;
            case 2: status = number_value(values[i], i, -1, &person->gender, &numbers_as_texts); break;
            case 3: status = number_value(values[i], i, -1, &person->birth_year, &numbers_as_texts); break;
            case 4: status = number_value(values[i], i, -1, &person->birth_month, &numbers_as_texts); break;
            default: status = number_value(values[i], i, -1, &person->birth_day, &numbers_as_texts); break;
        }
        if (status < 0) {
            return NULL;
        }
    }

    mint_options options = {lenient ? MINT_SSN_LENIENT : MINT_SSN_STRICT, NULL, 0};
    key_hold key_held;
    if (key_option(key, key_file, &key_held, &options) < 0) {
        return NULL;
    }
    char identifier[MINT_ID_SIZE];
    mint_result result;
    /* One record takes well under a microsecond: not worth releasing the GIL. */
    mint_derive(&people[0], &people[1], &options, identifier, &result);
    release_key(&key_held);

    switch (result.status) {
        case MINT_IDENTIFIER: return PyUnicode_FromStringAndSize(identifier, MINT_ID_SIZE - 1);
        case MINT_ZERO: return Py_NewRef(state->zero_id);
        default: return set_record_error(state, &result, NULL);
    }
}

static PyObject *mint_uuid(PyObject *module, PyObject *args, PyObject *kwargs) {
    static char *keywords[] = {
        "patient_name", "patient_ssn", "patient_gender", "patient_birth_year", "patient_birth_month",
        "patient_birth_day", "policy_name", "policy_ssn", "policy_gender", "policy_birth_year",
        "policy_birth_month", "policy_birth_day", "lenient_ssn", "key", "key_file", NULL,
    };
    PyObject *values[FIELD_COUNT];
    for (int i = 0; i < FIELD_COUNT; ++i) {
        values[i] = Py_None;
    }
    PyObject *lenient = Py_False;
    PyObject *key = Py_None;
    PyObject *key_file = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOOOOOOOOO$OOO:uuid", keywords, &values[0], &values[1],
                                     &values[2], &values[3], &values[4], &values[5], &values[6], &values[7],
                                     &values[8], &values[9], &values[10], &values[11], &lenient, &key,
                                     &key_file)) {
        return NULL;
    }
    /* The arguments are borrowed from the call's keyword dict, which a
     * caller in C may pass as its own: converting one runs Python code
     * (__bool__, __index__), which could empty that dict. Each is held until
     * the end, as the texts' UTF-8 belongs to them. */
    for (int i = 0; i < FIELD_COUNT; ++i) {
        Py_INCREF(values[i]);
    }
    Py_INCREF(lenient);
    Py_INCREF(key);
    Py_INCREF(key_file);
    PyObject *outcome = NULL;
    const int lenient_ssn = PyObject_IsTrue(lenient);
    if (lenient_ssn >= 0) {
        outcome = uuid_of(get_state(module), values, lenient_ssn, key, key_file);
    }
    for (int i = 0; i < FIELD_COUNT; ++i) {
        Py_DECREF(values[i]);
    }
    Py_DECREF(lenient);
    Py_DECREF(key);
    Py_DECREF(key_file);
    return outcome;
}

/* Rows converted and derived per step. The step's arrays stay small and are
 * reused, where arrays for the whole call would cost a page fault for every
 * few rows when they are first written. */
#define CHUNK_ROWS 2048
#define TEXT_COLUMNS 4
#define NUMBER_COLUMNS 8

/* Each person's name and SSN, then the four numbers, counted per kind. */
static int text_index(int field) { return field / 6 * 2 + field % 6; }
static int number_index(int field) { return field / 6 * 4 + field % 6 - 2; }

/* The columns of a call. An object column is read from a private tuple,
 * taken once: converting a value runs Python code (__index__, attribute
 * look-ups), and other threads run while the GIL is released between
 * steps, but nothing can change or free the tuple or the values it holds,
 * whose texts the C interface reads without the GIL. */
typedef struct {
    PyObject *snapshots[FIELD_COUNT];  /* object columns (tuples) */
    Py_buffer buffers[FIELD_COUNT];    /* number columns given as arrays */
    char kinds[FIELD_COUNT];           /* each array's item format */
    PyObject *dates[2];                /* each person's birth date column (a tuple), or NULL */
    text_rules rules;                  /* how texts in number and date columns are read */
} sources;

static const char *const date_names[2] = {"patient_birth_date", "policy_birth_date"};

/* One step's worth of fields and results. */
typedef struct {
    const char *texts[TEXT_COLUMNS][CHUNK_ROWS];
    int32_t numbers[NUMBER_COLUMNS][CHUNK_ROWS];
    char identifiers[CHUNK_ROWS * MINT_ID_SIZE];
    mint_result results[CHUNK_ROWS];
} chunk;

static void release_sources(sources *given) {
    Py_XDECREF(given->dates[0]);
    Py_XDECREF(given->dates[1]);
    for (int field = 0; field < FIELD_COUNT; ++field) {
        Py_XDECREF(given->snapshots[field]);
        if (given->buffers[field].obj != NULL) {
            PyBuffer_Release(&given->buffers[field]);
        }
    }
}

static int check_length(int field, Py_ssize_t length, Py_ssize_t rows) {
    if (length != rows) {
        PyErr_Format(PyExc_ValueError, "column %s has %zd entries, not %zd", field_name(field), length, rows);
        return -1;
    }
    return 0;
}

/* The item size of a native integer or floating-point buffer format, 0
 * for any other format. */
static Py_ssize_t number_format_size(char kind) {
    switch (kind) {
        case 'b': case 'B': return 1;
        case 'h': case 'H': return (Py_ssize_t)sizeof(short);
        case 'i': case 'I': return (Py_ssize_t)sizeof(int);
        case 'l': case 'L': return (Py_ssize_t)sizeof(long);
        case 'q': case 'Q': return (Py_ssize_t)sizeof(long long);
        case 'f': return (Py_ssize_t)sizeof(float);
        case 'd': return (Py_ssize_t)sizeof(double);
        default: return 0;
    }
}

/* Item i of a number array, by the rules of number_value. */
static int32_t array_number(const void *base, char kind, Py_ssize_t i) {
    double d;
    switch (kind) {
        case 'b': return checked_number(((const signed char *)base)[i]);
        case 'B': return checked_number(((const unsigned char *)base)[i]);
        case 'h': return checked_number(((const short *)base)[i]);
        case 'H': return checked_number(((const unsigned short *)base)[i]);
        case 'i': return checked_number(((const int *)base)[i]);
        case 'I': return checked_number(((const unsigned int *)base)[i]);
        case 'l': return checked_number(((const long *)base)[i]);
        case 'L': {
            const unsigned long n = ((const unsigned long *)base)[i];
            return n <= INT32_MAX ? (int32_t)n : REFUSED_NUMBER;
        }
        case 'q': return checked_number(((const long long *)base)[i]);
        case 'Q': {
            const unsigned long long n = ((const unsigned long long *)base)[i];
            return n <= INT32_MAX ? (int32_t)n : REFUSED_NUMBER;
        }
        case 'f': d = ((const float *)base)[i]; break;
        default: d = ((const double *)base)[i]; break;
    }
    if (isnan(d)) {
        return MINT_NOT_GIVEN;
    }
    return d > (double)INT32_MIN && d <= (double)INT32_MAX && d == floor(d) ? (int32_t)d : REFUSED_NUMBER;
}

/* A number column given as a buffer: a contiguous one-dimensional array of
 * native integers or floats (numpy's numeric arrays), read item by item.
 * Returns 1 when taken, 0 when `column` is no buffer, -1 on error. */
static int number_buffer(sources *given, int field, PyObject *column, Py_ssize_t rows) {
    if (!PyObject_CheckBuffer(column)) {
        return 0;
    }
    Py_buffer *buffer = &given->buffers[field];
    if (PyObject_GetBuffer(column, buffer, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
        buffer->obj = NULL;
        return -1;
    }
    const char *format = buffer->format == NULL ? "B" : buffer->format;
    if (format[0] == '@') {
        ++format;
    }
    const char kind = strlen(format) == 1 ? format[0] : '\0';
    if (buffer->ndim != 1 || number_format_size(kind) == 0 || number_format_size(kind) != buffer->itemsize) {
        PyErr_Format(PyExc_TypeError, "column %s must hold numbers, not items of format '%s'", field_name(field),
                     buffer->format == NULL ? "B" : buffer->format);
        return -1;
    }
    given->kinds[field] = kind;
    return check_length(field, buffer->len / buffer->itemsize, rows) < 0 ? -1 : 1;
}

/* A date column's value as year, month and day: a str in the call's date
 * format, judged as mintbatch judges a date column; a datetime.date (or
 * datetime, pandas.Timestamp) by its date; None, NaN, pandas.NA and
 * pandas.NaT not given. Returns 0, or -1 with an exception set. */
static int date_value(PyObject *value, int person, Py_ssize_t row, const text_rules *rules, int32_t *date) {
    date[0] = date[1] = date[2] = MINT_NOT_GIVEN;
    if (PyUnicode_Check(value)) {
        const char *text = number_text(value);
        if (text == NULL) {
            return -1;
        }
        mint_read_date(text, rules->date_format, &date[0], &date[1], &date[2]);
        return 0;
    }
    if (value == Py_None || (PyFloat_Check(value) && isnan(PyFloat_AS_DOUBLE(value)))) {
        return 0;
    }
    /* pandas.NaT is a datetime too, without a date. */
    int missing = is_pandas_missing(value, "NaT");
    if (missing == 0) {
        missing = is_pandas_na(value);
    }
    if (missing != 0) {
        return missing < 0 ? -1 : 0;
    }
    if (PyDate_Check(value)) {
        date[0] = PyDateTime_GET_YEAR(value);
        date[1] = PyDateTime_GET_MONTH(value);
        date[2] = PyDateTime_GET_DAY(value);
        return 0;
    }
    char where[48];
    row_suffix(where, sizeof where, row);
    PyErr_Format(PyExc_TypeError, "%s must be a date, str or None, not %.100s%s", date_names[person],
                 Py_TYPE(value)->tp_name, where);
    return -1;
}

/* Converts rows [start, start + count) of the object columns into `step`
 * and points `columns` at the step's arrays (and into the buffers).
 * Returns 0, or -1 with an exception set. */
static int convert_step(const sources *given, Py_ssize_t start, Py_ssize_t count, chunk *step,
                        mint_columns *columns) {
    column_arrays arrays;
    memset(&arrays, 0, sizeof arrays);
    for (int field = 0; field < FIELD_COUNT; ++field) {
        if (given->buffers[field].obj != NULL) {
            int32_t *numbers = step->numbers[number_index(field)];
            for (Py_ssize_t i = 0; i < count; ++i) {
                numbers[i] = array_number(given->buffers[field].buf, given->kinds[field], start + i);
            }
            arrays.numbers[field] = numbers;
            continue;
        }
        PyObject *snapshot = given->snapshots[field];
        if (snapshot == NULL) {
            continue;
        }
        PyObject *const *items = &PyTuple_GET_ITEM(snapshot, start);
        if (field_is_text(field)) {
            const char **texts = step->texts[text_index(field)];
            for (Py_ssize_t i = 0; i < count; ++i) {
                if (text_value(items[i], field, start + i, &texts[i]) < 0) {
                    return -1;
                }
            }
            arrays.texts[field] = texts;
        } else {
            int32_t *numbers = step->numbers[number_index(field)];
            for (Py_ssize_t i = 0; i < count; ++i) {
                if (number_value(items[i], field, start + i, &numbers[i], &given->rules) < 0) {
                    return -1;
                }
            }
            arrays.numbers[field] = numbers;
        }
    }
    for (int person = 0; person < 2; ++person) {
        PyObject *snapshot = given->dates[person];
        if (snapshot == NULL) {
            continue;
        }
        const int year = person * 6 + 3;
        int32_t *parts[3];
        for (int part = 0; part < 3; ++part) {
            parts[part] = step->numbers[number_index(year + part)];
            arrays.numbers[year + part] = parts[part];
        }
        PyObject *const *items = &PyTuple_GET_ITEM(snapshot, start);
        for (Py_ssize_t i = 0; i < count; ++i) {
            int32_t date[3];
            if (date_value(items[i], person, start + i, &given->rules, date) < 0) {
                return -1;
            }
            for (int part = 0; part < 3; ++part) {
                parts[part][i] = date[part];
            }
        }
    }
    fill_columns(columns, &arrays);
    return 0;
}

/* The label of row `row` for a message: index[row], or the position. */
static PyObject *row_label(PyObject *index, Py_ssize_t row) {
    if (index == Py_None) {
        return PyLong_FromSsize_t(row);
    }
    return PySequence_GetItem(index, row);
}

/* Derives every row, step by step, into the list `identifiers`. Returns 0,
 * or -1 with an exception set. */
static int derive_all(module_state *state, const sources *given, Py_ssize_t rows, const mint_options *options,
                      int raise_refused, PyObject *index, chunk *step, PyObject *identifiers) {
    for (Py_ssize_t start = 0; start < rows; start += CHUNK_ROWS) {
        const Py_ssize_t count = rows - start < CHUNK_ROWS ? rows - start : CHUNK_ROWS;
        mint_columns columns;
        if (convert_step(given, start, count, step, &columns) < 0) {
            return -1;
        }
        int32_t status;
        Py_BEGIN_ALLOW_THREADS
        status = mint_derive_columns(&columns, (size_t)count, options, step->identifiers, step->results);
        Py_END_ALLOW_THREADS
        if (status != 0) {
            const mint_result bad = {status, MINT_FIELD_NONE, 0};
            set_record_error(state, &bad, NULL);
            return -1;
        }
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject *item;
            switch (step->results[i].status) {
                case MINT_IDENTIFIER:
                    item = PyUnicode_FromStringAndSize(step->identifiers + (size_t)i * MINT_ID_SIZE, MINT_ID_SIZE - 1);
                    if (item == NULL) {
                        return -1;
                    }
                    break;
                case MINT_ZERO: item = Py_NewRef(state->zero_id); break;
                default:
                    if (raise_refused) {
                        PyObject *label = row_label(index, start + i);
                        if (label != NULL) {
                            set_record_error(state, &step->results[i], label);
                            Py_DECREF(label);
                        }
                        return -1;
                    }
                    item = Py_NewRef(Py_None);
                    break;
            }
            PyList_SET_ITEM(identifiers, start + i, item);
        }
    }
    return 0;
}

PyDoc_STRVAR(derive_columns_doc,
"derive_columns($module, columns, rows, /, *, lenient_ssn=False, key=None,\n"
"               raise_refused=False, index=None, key_file=None,\n"
"               gender_values=None, date_format=None)\n"
"--\n"
"\n"
"Identifiers of `rows` records, from a dict of columns of that length (the\n"
"package's uuids() prepares it). A text column is a sequence of values; a\n"
"number column is a sequence of values or a contiguous one-dimensional\n"
"array of integers or floats (NaN: not given); its str values are judged\n"
"as mintbatch judges a CSV field (gender codes as gender_values, such as\n"
"'M=1,F=2'). patient_birth_date and policy_birth_date are date columns:\n"
"datetime.date values or texts in date_format ('%Y-%m-%d' when None).\n"
"Fields without a column are\n"
"not given. Returns a list with one identifier per row, None where refused;\n"
"with raise_refused, raises RecordError for the first refused row instead,\n"
"naming it by index[row] (or its position when index is None).\n"
"The derivation runs with the GIL released.");

/* Takes each column of `columns`, a dict no other code can reach: a number
 * buffer, or a private tuple of its values. Returns 0, or -1 with an
 * exception set. */
static int take_columns(sources *given, PyObject *columns, Py_ssize_t rows) {
    Py_ssize_t known = 0;
    for (int field = 0; field < FIELD_COUNT; ++field) {
        PyObject *name = PyUnicode_FromString(field_name(field));
        if (name == NULL) {
            return -1;
        }
        PyObject *column = PyDict_GetItemWithError(columns, name);
        Py_DECREF(name);
        if (column == NULL) {
            if (PyErr_Occurred()) {
                return -1;
            }
            continue;
        }
        ++known;
        int taken = 1;
        if (column != Py_None) {
            taken = field_is_text(field) ? 0 : number_buffer(given, field, column, rows);
            if (taken == 0) {
                given->snapshots[field] = PySequence_Tuple(column);
                taken = given->snapshots[field] == NULL ||
                                check_length(field, PyTuple_GET_SIZE(given->snapshots[field]), rows) < 0
                            ? -1
                            : 1;
            }
        }
        if (taken < 0) {
            return -1;
        }
    }
    for (int person = 0; person < 2; ++person) {
        PyObject *column = PyDict_GetItemString(columns, date_names[person]);
        if (column == NULL) {
            continue;
        }
        ++known;
        const int year = person * 6 + 3;
        for (int part = 0; part < 3; ++part) {
            if (given->snapshots[year + part] != NULL || given->buffers[year + part].obj != NULL) {
                PyErr_Format(PyExc_ValueError, "derive_columns: %s and the birth's year, month or day columns",
                             date_names[person]);
                return -1;
            }
        }
        given->dates[person] = PySequence_Tuple(column);
        if (given->dates[person] == NULL ||
            check_length(year, PyTuple_GET_SIZE(given->dates[person]), rows) < 0) {
            return -1;
        }
    }
    if (known != PyDict_GET_SIZE(columns)) {
        PyErr_SetString(PyExc_ValueError, "derive_columns: the dict holds a key that names no field");
        return -1;
    }
    return 0;
}

/* derive_columns' work, on arguments the caller holds. */
static PyObject *derive_columns_of(module_state *state, PyObject *columns, Py_ssize_t rows, int lenient,
                                   PyObject *key, PyObject *key_file, int raise_refused, PyObject *index,
                                   const text_rules *rules) {
    sources given;
    memset(&given, 0, sizeof given);
    given.rules = *rules;
    /* The caller's dict may change while a column is read (its __iter__ is
     * Python code) and free the column: the columns are read from a copy. */
    PyObject *own_columns = PyDict_Copy(columns);
    if (own_columns == NULL || take_columns(&given, own_columns, rows) < 0) {
        Py_XDECREF(own_columns);
        release_sources(&given);
        return NULL;
    }
    Py_DECREF(own_columns);

    mint_options options = {lenient ? MINT_SSN_LENIENT : MINT_SSN_STRICT, NULL, 0};
    key_hold key_held;
    if (key_option(key, key_file, &key_held, &options) < 0) {
        release_sources(&given);
        return NULL;
    }
    chunk *step = PyMem_Malloc(sizeof *step);
    PyObject *identifiers = PyList_New(rows);
    if (step == NULL || identifiers == NULL) {
        if (step == NULL) {
            PyErr_NoMemory();
        }
        Py_CLEAR(identifiers);
    } else if (derive_all(state, &given, rows, &options, raise_refused, index, step, identifiers) < 0) {
        Py_CLEAR(identifiers);
    }
    PyMem_Free(step);
    release_key(&key_held);
    release_sources(&given);
    return identifiers;
}

/* A str argument's UTF-8, or NULL with ValueError when it holds a zero byte. */
static const char *argument_text(PyObject *value, const char *what) {
    Py_ssize_t size;
    const char *utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 != NULL && strlen(utf8) != (size_t)size) {
        PyErr_Format(PyExc_ValueError, "%s: embedded null character", what);
        return NULL;
    }
    return utf8;
}

/* gender_values (as --gender-values takes them) and date_format (as
 * --date-format), each a str or None. Returns 0, or -1 with an exception. */
static int text_rules_of(PyObject *gender_values, PyObject *date_format, text_rules *rules) {
    rules->date_format = MINT_DATE_Y_M_D;
    if (gender_values != Py_None) {
        if (!PyUnicode_Check(gender_values)) {
            PyErr_Format(PyExc_TypeError, "gender_values must be str or None, not %.100s",
                         Py_TYPE(gender_values)->tp_name);
            return -1;
        }
        const char *text = argument_text(gender_values, "gender_values");
        if (text == NULL) {
            return -1;
        }
        if (mint_gender_codes_parse(text, &rules->codes) != 0) {
            PyErr_Format(PyExc_ValueError,
                         "gender_values %R is not CODE=NUMBER[,CODE=NUMBER...] (such as 'M=1,F=2'; codes of 1 "
                         "to %d bytes without '=' or ',', at most %d of them)",
                         gender_values, MINT_GENDER_CODE_SIZE - 1, MINT_MOST_GENDER_CODES);
            return -1;
        }
        rules->has_codes = 1;
    }
    if (date_format != Py_None) {
        if (!PyUnicode_Check(date_format)) {
            PyErr_Format(PyExc_TypeError, "date_format must be str or None, not %.100s",
                         Py_TYPE(date_format)->tp_name);
            return -1;
        }
        const char *text = argument_text(date_format, "date_format");
        if (text == NULL) {
            return -1;
        }
        rules->date_format = mint_date_format(text);
        if (rules->date_format < 0) {
            PyErr_Format(PyExc_ValueError,
                         "date_format %R is none of '%%Y-%%m-%%d', '%%d/%%m/%%Y', '%%m/%%d/%%Y', '%%d.%%m.%%Y', "
                         "'%%Y%%m%%d'", date_format);
            return -1;
        }
    }
    return 0;
}

static PyObject *mint_derive_columns_py(PyObject *module, PyObject *args, PyObject *kwargs) {
    static char *keywords[] = {"columns", "rows", "lenient_ssn", "key", "raise_refused", "index", "key_file",
                               "gender_values", "date_format", NULL};
    PyObject *arguments[9] = {NULL, NULL, Py_False, Py_None, Py_False, Py_None, Py_None, Py_None, Py_None};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!O|$OOOOOOO:derive_columns", keywords, &PyDict_Type,
                                     &arguments[0], &arguments[1], &arguments[2], &arguments[3], &arguments[4],
                                     &arguments[5], &arguments[6], &arguments[7], &arguments[8])) {
        return NULL;
    }
    /* Borrowed from the call, as in uuid: held, as Python code runs before
     * they are used. */
    for (int i = 0; i < 9; ++i) {
        Py_INCREF(arguments[i]);
    }
    text_rules rules;
    memset(&rules, 0, sizeof rules);
    if (text_rules_of(arguments[7], arguments[8], &rules) < 0) {
        for (int i = 0; i < 9; ++i) {
            Py_DECREF(arguments[i]);
        }
        return NULL;
    }
    PyObject *identifiers = NULL;
    const Py_ssize_t rows = PyNumber_AsSsize_t(arguments[1], PyExc_OverflowError);
    const int lenient = rows == -1 && PyErr_Occurred() ? -1 : PyObject_IsTrue(arguments[2]);
    const int raise_refused = lenient < 0 ? -1 : PyObject_IsTrue(arguments[4]);
    if (raise_refused < 0) {
        /* An exception is set. */
    } else if (rows < 0) {
        PyErr_SetString(PyExc_ValueError, "derive_columns: rows must not be negative");
    } else {
        identifiers = derive_columns_of(get_state(module), arguments[0], rows, lenient, arguments[3], arguments[6],
                                        raise_refused, arguments[5], &rules);
    }
    for (int i = 0; i < 9; ++i) {
        Py_DECREF(arguments[i]);
    }
    return identifiers;
}

PyDoc_STRVAR(read_key_doc,
"read_key($module, path, /)\n"
"--\n"
"\n"
"The secret in the key file at `path`, as bytes, read exactly as mintbatch\n"
"and mintsolo read --key-file: hex digits in either case, whitespace\n"
"ignored, an even number of 32 to 1024 digits. Raises OSError when the\n"
"file cannot be opened or read and ValueError when it holds no key, with\n"
"the programs' words; warns (UserWarning) when group or others may read or\n"
"write the file.");

static PyObject *mint_read_key(PyObject *module, PyObject *path) {
    (void)module;
    mint_key_text secret;
    if (read_key_into(path, &secret) < 0) {
        return NULL;
    }
    PyObject *key = PyBytes_FromStringAndSize((const char *)secret.bytes, (Py_ssize_t)(secret.digits / 2));
    mint_key_text_wipe(&secret, sizeof secret);
    return key;
}

PyDoc_STRVAR(map_columns_doc,
"map_columns($module, names, mapped=None, /, *, required=True)\n"
"--\n"
"\n"
"Which of `names` (a sequence of column labels; only str labels can name a\n"
"field) gives each field, as mintbatch --by-name maps its header: a tuple\n"
"with a position or -1 for each of COLUMN_FIELDS. `mapped` is a dict of\n"
"FIELD: COLUMN, as --map. Raises ValueError naming the problem and listing\n"
"the columns for a column named twice, a mapped column not there, one\n"
"column for two fields, a date column beside its numbers and, when\n"
"required, a missing column for the patient's name, gender or birth.");

/* "'a', 'b', 3" for the columns of a message. */
static PyObject *listed_names(PyObject *names) {
    PyObject *shown = PyList_New(PyTuple_GET_SIZE(names));
    if (shown == NULL) {
        return NULL;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(names); ++i) {
        PyObject *one = PyObject_Repr(PyTuple_GET_ITEM(names, i));
        if (one == NULL) {
            Py_DECREF(shown);
            return NULL;
        }
        PyList_SET_ITEM(shown, i, one);
    }
    PyObject *separator = PyUnicode_FromString(", ");
    PyObject *listed = separator == NULL ? NULL : PyUnicode_Join(separator, shown);
    Py_XDECREF(separator);
    Py_DECREF(shown);
    return listed;
}

static void raise_mapping_problem(const mint_column_map *map, PyObject *names, const char **mapped) {
    PyObject *listed = listed_names(names);
    if (listed == NULL) {
        return;
    }
    const char *field = mint_column_field_name(map->field);
    switch (map->problem) {
        case MINT_MAP_TOO_MANY_COLUMNS:
            PyErr_Format(PyExc_ValueError, "more than %d columns, or more than 64 KiB of column names, to map",
                         MINT_MOST_COLUMNS);
            break;
        case MINT_MAP_DUPLICATE_COLUMN:
            PyErr_Format(PyExc_ValueError, "two columns are named %R. The columns: %U.",
                         PyTuple_GET_ITEM(names, map->duplicate), listed);
            break;
        case MINT_MAP_MISSING_COLUMN:
            if (map->field == MINT_COLUMN_PATIENT_BIRTH_DATE) {
                PyErr_Format(PyExc_ValueError,
                             "no column for patient_birth_date (nor patient_birth_year, patient_birth_month and "
                             "patient_birth_day); name one with columns={'patient_birth_date': COLUMN}. "
                             "The columns: %U.", listed);
            } else {
                PyErr_Format(PyExc_ValueError, "no column for %s; name one with columns={'%s': COLUMN}. "
                             "The columns: %U.", field, field, listed);
            }
            break;
        case MINT_MAP_MISSING_MAPPED:
            PyErr_Format(PyExc_ValueError, "no column '%s' (named for %s). The columns: %U.", mapped[map->field],
                         field, listed);
            break;
        case MINT_MAP_CLAIMED_TWICE:
            PyErr_Format(PyExc_ValueError, "one column is named for both %s and %s. The columns: %U.", field,
                         mint_column_field_name(map->other), listed);
            break;
        default:
            PyErr_Format(PyExc_ValueError,
                         "a column for %s and columns for the year, month or day it stands for. The columns: %U.",
                         field, listed);
            break;
    }
    Py_DECREF(listed);
}

/* map_columns' work on a tuple of names and a private dict of mappings. */
static PyObject *map_columns_of(PyObject *names, PyObject *mapped, int required) {
    const char *mapped_texts[MINT_COLUMN_FIELDS] = {NULL};
    Py_ssize_t position = 0;
    PyObject *field_object;
    PyObject *column;
    while (mapped != NULL && PyDict_Next(mapped, &position, &field_object, &column)) {
        if (!PyUnicode_Check(field_object) || !PyUnicode_Check(column)) {
            PyErr_Format(PyExc_TypeError, "columns maps str fields to str column names, not %.100s to %.100s",
                         Py_TYPE(field_object)->tp_name, Py_TYPE(column)->tp_name);
            return NULL;
        }
        const char *field_text = argument_text(field_object, "columns");
        const char *column_text = field_text == NULL ? NULL : argument_text(column, "columns");
        if (column_text == NULL) {
            return NULL;
        }
        const int32_t field = mint_column_field(field_text);
        if (field < 0) {
            PyErr_Format(PyExc_ValueError,
                         "columns: no field %R (the fields: data_record, patient_name, patient_ssn, patient_gender, "
                         "patient_birth_date, patient_birth_year, patient_birth_month, patient_birth_day, and the "
                         "same for policy_)", field_object);
            return NULL;
        }
        if (mapped_texts[field] != NULL) {
            PyErr_Format(PyExc_ValueError, "columns names a column for %s twice", mint_column_field_name(field));
            return NULL;
        }
        mapped_texts[field] = column_text;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(names);
    const char **texts = PyMem_Calloc(count > 0 ? (size_t)count : 1, sizeof *texts);
    if (texts == NULL) {
        return PyErr_NoMemory();
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *name = PyTuple_GET_ITEM(names, i);
        if (!PyUnicode_Check(name)) {
            continue;  /* a label that is no str names no field: a column without a name */
        }
        Py_ssize_t size;
        const char *utf8 = PyUnicode_AsUTF8AndSize(name, &size);
        if (utf8 == NULL) {
            PyMem_Free(texts);
            return NULL;
        }
        /* A name with a zero byte would be cut short there: it names nothing. */
        texts[i] = strlen(utf8) == (size_t)size ? utf8 : NULL;
    }
    mint_column_map map;
    mint_map_columns(texts, (size_t)count, mapped_texts, &map);
    PyMem_Free(texts);
    if (map.problem != MINT_MAP_OK && (required || map.problem != MINT_MAP_MISSING_COLUMN)) {
        raise_mapping_problem(&map, names, mapped_texts);
        return NULL;
    }
    PyObject *columns = PyTuple_New(MINT_COLUMN_FIELDS);
    for (int f = 0; columns != NULL && f < MINT_COLUMN_FIELDS; ++f) {
        PyObject *index = PyLong_FromLong(map.column[f]);
        if (index == NULL) {
            Py_CLEAR(columns);
            break;
        }
        PyTuple_SET_ITEM(columns, f, index);
    }
    return columns;
}

static PyObject *mint_map_columns_py(PyObject *module, PyObject *args, PyObject *kwargs) {
    (void)module;
    static char *keywords[] = {"", "", "required", NULL};
    PyObject *names = NULL;
    PyObject *mapped = Py_None;
    int required = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$p:map_columns", keywords, &names, &mapped, &required)) {
        return NULL;
    }
    if (mapped != Py_None && !PyDict_Check(mapped)) {
        PyErr_Format(PyExc_TypeError, "columns must be a dict or None, not %.100s", Py_TYPE(mapped)->tp_name);
        return NULL;
    }
    /* Private copies: converting a label or reading the dict runs no caller
     * code after this, and the copies keep every text alive. */
    PyObject *own_names = PySequence_Tuple(names);
    PyObject *own_mapped = own_names == NULL || mapped == Py_None ? NULL : PyDict_Copy(mapped);
    PyObject *columns = NULL;
    if (own_names != NULL && (mapped == Py_None || own_mapped != NULL)) {
        columns = map_columns_of(own_names, own_mapped, required);
    }
    Py_XDECREF(own_mapped);
    Py_XDECREF(own_names);
    return columns;
}

static PyMethodDef mint_methods[] = {
    {"map_columns", (PyCFunction)(void (*)(void))mint_map_columns_py, METH_VARARGS | METH_KEYWORDS,
     map_columns_doc},
    {"read_key", mint_read_key, METH_O, read_key_doc},
    {"uuid", (PyCFunction)(void (*)(void))mint_uuid, METH_VARARGS | METH_KEYWORDS, uuid_doc},
    {"derive_columns", (PyCFunction)(void (*)(void))mint_derive_columns_py, METH_VARARGS | METH_KEYWORDS,
     derive_columns_doc},
    {NULL, NULL, 0, NULL},
};

PyDoc_STRVAR(record_error_doc,
"A record was refused: a given value is refused by its field's rule, or an\n"
"SSN is given but neither key has all its fields.\n"
"\n"
"Attributes: field, the refused field's column name (None when the record\n"
"is incomplete); reason, why, in the library's words; row, the refused\n"
"row's index label or position (None for a single record). Messages never\n"
"contain the refused value, which may be personal data.");

static int mint_exec(PyObject *module) {
    module_state *state = get_state(module);
    PyObject *defaults = Py_BuildValue("{sOsOsO}", "field", Py_None, "reason", Py_None, "row", Py_None);
    if (defaults == NULL) {
        return -1;
    }
    state->record_error = PyErr_NewExceptionWithDoc("mint.RecordError", record_error_doc, PyExc_ValueError, defaults);
    Py_DECREF(defaults);
    if (state->record_error == NULL || PyModule_AddObjectRef(module, "RecordError", state->record_error) < 0) {
        return -1;
    }
    state->zero_id = PyUnicode_InternFromString("000000000000");
    if (state->zero_id == NULL) {
        return -1;
    }
    PyObject *fields = PyTuple_New(FIELD_COUNT);
    if (fields == NULL) {
        return -1;
    }
    for (int i = 0; i < FIELD_COUNT; ++i) {
        PyObject *name = PyUnicode_InternFromString(field_name(i));
        if (name == NULL) {
            Py_DECREF(fields);
            return -1;
        }
        PyTuple_SET_ITEM(fields, i, name);
    }
    if (PyModule_AddObject(module, "FIELDS", fields) < 0) {
        Py_DECREF(fields);
        return -1;
    }
    if (PyModule_AddStringConstant(module, "__version__", mint_version()) < 0) {
        return -1;
    }
    PyObject *column_fields = PyTuple_New(MINT_COLUMN_FIELDS);
    if (column_fields == NULL) {
        return -1;
    }
    for (int i = 0; i < MINT_COLUMN_FIELDS; ++i) {
        PyObject *name = PyUnicode_InternFromString(mint_column_field_name(i));
        if (name == NULL) {
            Py_DECREF(column_fields);
            return -1;
        }
        PyTuple_SET_ITEM(column_fields, i, name);
    }
    if (PyModule_AddObject(module, "COLUMN_FIELDS", column_fields) < 0) {
        Py_DECREF(column_fields);
        return -1;
    }
    if (PyModule_AddIntConstant(module, "MOST_COLUMNS", MINT_MOST_COLUMNS) < 0) {
        return -1;
    }
    PyDateTime_IMPORT;
    return PyDateTimeAPI == NULL ? -1 : 0;
}

static int mint_traverse(PyObject *module, visitproc visit, void *arg) {
    module_state *state = get_state(module);
    Py_VISIT(state->record_error);
    Py_VISIT(state->zero_id);
    return 0;
}

static int mint_clear(PyObject *module) {
    module_state *state = get_state(module);
    Py_CLEAR(state->record_error);
    Py_CLEAR(state->zero_id);
    return 0;
}

static void mint_free(void *module) { mint_clear((PyObject *)module); }

static PyModuleDef_Slot mint_slots[] = {
    {Py_mod_exec, mint_exec},
    {0, NULL},
};

PyDoc_STRVAR(module_doc, "The C part of the mint package; use the package `mint` itself.");

static struct PyModuleDef mint_module = {
    PyModuleDef_HEAD_INIT,
    .m_name = "mint._mint",
    .m_doc = module_doc,
    .m_size = sizeof(module_state),
    .m_methods = mint_methods,
    .m_slots = mint_slots,
    .m_traverse = mint_traverse,
    .m_clear = mint_clear,
    .m_free = mint_free,
};

PyMODINIT_FUNC PyInit__mint(void) { return PyModuleDef_Init(&mint_module); }
