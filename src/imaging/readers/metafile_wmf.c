// SPDX-License-Identifier: GPL-2.0-or-later
/* Windows metafile to SVG through libwmf's SVG device.
 *
 * This translation unit is plain C and includes libwmf only: libwmf's headers
 * define macros (U16, S32, ...) that clash with the rest of the program, so
 * nothing else may see them. The C++ side declares qx_wmf_to_svg itself.
 *
 * libwmf is given the placeable metafile from memory. Everything it allocates
 * goes through a counting allocator with a fixed budget, and the player's
 * progress callback stops a metafile after a fixed number of records, so a
 * hostile file can neither exhaust memory nor keep the player busy for long.
 *
 * Fonts: libwmf measures text with font files it looks up itself (a font
 * package's Type 1 files). Where it finds none, its own font mapping fails
 * and with it the whole metafile, although only the text needed a font. Its
 * mapping is wrapped here: when no font file can be had, the font is given a
 * generic family name and no face, text is measured with an estimate, and
 * the picture is drawn all the same; the text itself is drawn later by the
 * SVG renderer with whatever fonts the system has.
 */
#include <libwmf/api.h>
#include <libwmf/font.h>
#include <libwmf/ipa.h>
#include <libwmf/svg.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Memory libwmf may hold at one time while it converts one metafile. */
#define QX_WMF_MEMORY_BUDGET ((size_t)256 * 1024 * 1024)

typedef struct {
    size_t used;
    int refused;
} qx_wmf_budget;

/* Each block carries its size in front of it. */
typedef union {
    size_t size;
    max_align_t align;
} qx_block_head;

static void* qx_alloc(void* context, size_t size)
{
    qx_wmf_budget* budget = (qx_wmf_budget*)context;
    qx_block_head* head;
    if (size > QX_WMF_MEMORY_BUDGET - budget->used) {
        budget->refused = 1;
        return NULL;
    }
    head = (qx_block_head*)malloc(sizeof(qx_block_head) + size);
    if (!head) {
        budget->refused = 1;
        return NULL;
    }
    head->size = size;
    budget->used += size;
    return head + 1;
}

static void qx_free(void* context, void* mem)
{
    qx_wmf_budget* budget = (qx_wmf_budget*)context;
    qx_block_head* head;
    if (!mem)
        return;
    head = (qx_block_head*)mem - 1;
    budget->used -= head->size;
    free(head);
}

static void* qx_realloc(void* context, void* mem, size_t size)
{
    qx_wmf_budget* budget = (qx_wmf_budget*)context;
    qx_block_head* head;
    qx_block_head* grown;
    size_t old;
    if (!mem)
        return qx_alloc(context, size);
    if (size == 0) {
        qx_free(context, mem);
        return NULL;
    }
    head = (qx_block_head*)mem - 1;
    old = head->size;
    if (size > old && size - old > QX_WMF_MEMORY_BUDGET - budget->used) {
        budget->refused = 1;
        return NULL;
    }
    grown = (qx_block_head*)realloc(head, sizeof(qx_block_head) + size);
    if (!grown) {
        budget->refused = 1;
        return NULL;
    }
    grown->size = size;
    budget->used = budget->used - old + size;
    return grown + 1;
}

/* The player reports its progress once per record. */
typedef struct {
    unsigned long calls;
} qx_wmf_progress;

#define QX_WMF_MAX_STATUS_CALLS 4000000UL

static int qx_status(void* context, float fraction)
{
    qx_wmf_progress* progress = (qx_wmf_progress*)context;
    (void)fraction;
    return ++progress->calls > QX_WMF_MAX_STATUS_CALLS; /* non-zero stops the player */
}

/* The functions of libwmf's that are wrapped, kept per conversion on the
 * API's user data (nothing global, so conversions may run on any thread). */
typedef struct {
    void (*draw_text)(wmfAPI*, wmfDrawText_t*);
    wmfMap map;
    wmfStringWidth stringwidth;
} qx_wmf_wrapped;

static qx_wmf_wrapped* qx_wrapped(wmfAPI* API)
{
    return (qx_wmf_wrapped*)API->user_data;
}

/* Tests point libwmf's font lookup at a directory of their choosing (an empty
 * one shows what a system without the font package gets). NULL: libwmf's own
 * lookup. */
static const char* qx_font_directory_override = NULL;

void qx_wmf_set_font_directory(const char* directory)
{
    qx_font_directory_override = directory;
}

/* Limits libwmf's font lookup to `directory`: its font directories become
 * that one alone and the font maps it read at start (Ghostscript's and the
 * system's) are set aside. */
static int qx_restrict_font_lookup(wmfAPI* API, const char* directory)
{
    wmfFontData* font_data = (wmfFontData*)API->font_data;
    wmfFontmapData* map_data;
    char** dirs;
    char* copy;
    if (!font_data || !font_data->user_data)
        return 1;
    map_data = (wmfFontmapData*)font_data->user_data;
    dirs = (char**)wmf_malloc(API, 2 * sizeof(char*));
    copy = (char*)wmf_malloc(API, strlen(directory) + 1);
    if (!dirs || !copy || API->err != wmf_E_None)
        return 1;
    strcpy(copy, directory);
    dirs[0] = copy;
    dirs[1] = NULL;
    map_data->fontdirs = dirs;
    map_data->GS.len = 0;
    map_data->FD.len = 0;
    return 0;
}

/* A font libwmf could not load: a generic family for the SVG, no face. */
static void qx_font_map(wmfAPI* API, wmfFont* font)
{
    static const char generic[] = "Helvetica";
    wmfIPAFont* ipa;
    qx_wrapped(API)->map(API, font);
    if (API->err == wmf_E_None && WMF_FONT_FTFACE(font))
        return;
    /* Only the missing font is forgiven; running out of memory is not. */
    if (API->err != wmf_E_None && API->err != wmf_E_BadFile)
        return;
    API->err = wmf_E_None;
    ipa = (wmfIPAFont*)wmf_malloc(API, sizeof(wmfIPAFont));
    if (!ipa || API->err != wmf_E_None)
        return;
    ipa->ps_name = (char*)wmf_malloc(API, sizeof generic);
    if (!ipa->ps_name || API->err != wmf_E_None)
        return;
    strcpy(ipa->ps_name, generic);
    ipa->ft_face = NULL;
    font->user_data = ipa;
}

/* Width of a string at 1 point, in points. Without a face: half an em a
 * character, about the average of a proportional font. */
static float qx_string_width(wmfAPI* API, wmfFont* font, char* str)
{
    if (WMF_FONT_FTFACE(font))
        return qx_wrapped(API)->stringwidth(API, font, str);
    return str ? 0.5f * (float)strlen(str) : 0.0f;
}

/* libwmf's SVG device writes text as it stands in the metafile, so "<" or "&"
 * in a string would break the document (or put markup of the metafile's
 * choosing into it). Strings are escaped before the device sees them; bytes
 * above 127 become the Latin-1 characters of those codes, control characters
 * blanks. */
static void qx_draw_text_escaped(wmfAPI* API, wmfDrawText_t* draw_text)
{
    char* original = draw_text->str;
    char* escaped;
    char* out;
    const unsigned char* in;
    if (!original)
        return;
    escaped = (char*)malloc(strlen(original) * 6 + 1);
    if (!escaped)
        return;
    out = escaped;
    for (in = (const unsigned char*)original; *in; ++in) {
        if (*in == '<')
            out += sprintf(out, "&lt;");
        else if (*in == '>')
            out += sprintf(out, "&gt;");
        else if (*in == '&')
            out += sprintf(out, "&amp;");
        else if (*in >= 0x80)
            out += sprintf(out, "&#%u;", (unsigned)*in);
        else if (*in < 0x20 || *in == 0x7F)
            *out++ = ' ';
        else
            *out++ = (char)*in;
    }
    *out = '\0';
    draw_text->str = escaped;
    qx_wrapped(API)->draw_text(API, draw_text);
    draw_text->str = original;
    free(escaped);
}

/* Converts a placeable metafile of `size` bytes to an SVG document. The frame
 * given (left, top, right, bottom in libwmf's device units, points) is mapped onto the SVG's
 * whole drawing area. Returns 0 and a malloc'd, zero-terminated document in
 * *svg (its length in *svgSize) on success; non-zero on any failure. */
int qx_wmf_to_svg(const unsigned char* data, size_t size, const double frame[4], char** svg, size_t* svgSize)
{
    wmfAPI_Options options;
    wmfAPI* API = NULL;
    wmf_svg_t* ddata;
    wmfD_Rect bbox;
    wmfStream* out = NULL;
    char* buffer = NULL;
    unsigned long length = 0;
    unsigned long flags;
    unsigned char* copy;
    qx_wmf_budget budget = {0, 0};
    qx_wmf_progress progress = {0};
    qx_wmf_wrapped wrapped = {NULL, NULL, NULL};
    int result = 1;

    *svg = NULL;
    *svgSize = 0;
    if (!data || size < 22 + 18 || size > (size_t)0x7FFFFFFF)
        return 1;
    /* A frame that is empty, or larger than any picture we draw, is refused. */
    if (!(frame[2] > frame[0]) || !(frame[3] > frame[1]) || frame[2] - frame[0] > 1e7 || frame[3] - frame[1] > 1e7)
        return 1;

    memset(&options, 0, sizeof options);
    options.function = wmf_svg_function;
    options.context = &budget;
    options.malloc = qx_alloc;
    options.realloc = qx_realloc;
    options.free = qx_free;
    flags = WMF_OPT_FUNCTION | WMF_OPT_ALLOC | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;

    if (wmf_api_create(&API, flags, &options) != wmf_E_None) {
        if (API)
            wmf_api_destroy(API);
        return 1;
    }

    {
        wmfFunctionReference* functions = (wmfFunctionReference*)API->function_reference;
        wmfFontData* font_data = (wmfFontData*)API->font_data;
        wrapped.draw_text = functions ? functions->draw_text : NULL;
        wrapped.map = font_data ? font_data->map : NULL;
        wrapped.stringwidth = font_data ? font_data->stringwidth : NULL;
        if (!wrapped.draw_text || !wrapped.map || !wrapped.stringwidth)
            goto done;
        API->user_data = &wrapped;
        functions->draw_text = qx_draw_text_escaped;
        font_data->map = qx_font_map;
        font_data->stringwidth = qx_string_width;
        if (qx_font_directory_override && qx_restrict_font_lookup(API, qx_font_directory_override))
            goto done;
    }

    /* libwmf reads from memory it does not own; give it a private copy. */
    copy = (unsigned char*)wmf_malloc(API, size);
    if (!copy || API->err != wmf_E_None)
        goto done;
    memcpy(copy, data, size);

    if (wmf_mem_open(API, copy, (long)size) != wmf_E_None)
        goto done;
    wmf_status_function(API, &progress, qx_status);
    /* The scan reads the headers itself. */
    if (wmf_scan(API, 0, &bbox) != wmf_E_None || !API->File->placeable)
        goto done;

    ddata = WMF_SVG_GetData(API);
    /* Map the metafile's own frame, not the extent of what it draws. */
    ddata->bbox.TL.x = (float)frame[0];
    ddata->bbox.TL.y = (float)frame[1];
    ddata->bbox.BR.x = (float)frame[2];
    ddata->bbox.BR.y = (float)frame[3];
    ddata->width = (unsigned int)ceil(frame[2] - frame[0]);
    ddata->height = (unsigned int)ceil(frame[3] - frame[1]);
    ddata->flags |= WMF_SVG_INLINE_IMAGES;
    ddata->Description = NULL;

    out = wmf_stream_create(API, NULL);
    if (!out)
        goto done;
    ddata->out = out;

    progress.calls = 0;
    if (wmf_play(API, 0, &bbox) != wmf_E_None)
        goto done;

    wmf_stream_destroy(API, out, &buffer, &length);
    out = NULL;
    if (!buffer || budget.refused)
        goto done;

    *svg = (char*)malloc(length + 1);
    if (!*svg)
        goto done;
    memcpy(*svg, buffer, length);
    (*svg)[length] = '\0';
    *svgSize = length;
    result = 0;

done:
    if (out)
        wmf_stream_destroy(API, out, &buffer, &length);
    wmf_api_destroy(API); /* frees everything attached to the API, the copy included */
    return result;
}
