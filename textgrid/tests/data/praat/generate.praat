# Regenerates the Praat-written fixtures in this directory:
#   praat --no-pref-files --run generate.praat
# Each grid is saved in the long ("text file") and the short layout, and Praat's
# own view of it is dumped to <name>.expected (one item per line, tab separated,
# line feeds in labels written as \n), which the tests compare against.

procedure dump: .file$
    .n = Get number of tiers
    .start = Get start time
    .end = Get end time
    writeFileLine: .file$, "grid", tab$, fixed$ (.start, 6), tab$, fixed$ (.end, 6), tab$, .n
    for .tier to .n
        .name$ = Get tier name: .tier
        .interval = Is interval tier: .tier
        if .interval
            .count = Get number of intervals: .tier
        else
            .count = Get number of points: .tier
        endif
        appendFileLine: .file$, "tier", tab$, .interval, tab$, replace$ (.name$, newline$, "\n", 0), tab$, .count
        for .i to .count
            if .interval
                .tmin = Get start time of interval: .tier, .i
                .tmax = Get end time of interval: .tier, .i
                .label$ = Get label of interval: .tier, .i
            else
                .tmin = Get time of point: .tier, .i
                .tmax = .tmin
                .label$ = Get label of point: .tier, .i
            endif
            appendFileLine: .file$, fixed$ (.tmin, 6), tab$, fixed$ (.tmax, 6), tab$, replace$ (.label$, newline$, "\n", 0)
        endfor
    endfor
endproc

procedure save: .name$
    Save as text file: .name$ + "_long.TextGrid"
    Save as short text file: .name$ + "_short.TextGrid"
    @dump: .name$ + ".expected"
endproc

# ASCII only: Praat keeps such files in ASCII.
Create TextGrid: 0, 3, "words bell", "bell"
Insert boundary: 1, 1
Insert boundary: 1, 2.25
Set interval text: 1, 1, "say ""hi"""
Set interval text: 1, 2, "line one" + newline$ + "xmin = 5" + newline$ + "text = ""x"""
Set interval text: 1, 3, "  padded = ""  "
Insert point: 2, 0.5, "ding"
Insert point: 2, 1.75, """"
Insert point: 2, 2.5, "x" + newline$ + "    item [2]:" + newline$ + "points [1]:"
@save: "ascii"
Remove

# Non-ASCII labels and names: Praat saves these as UTF-16.
Create TextGrid: 0, 2.5, "mots Wörter", "Wörter"
Insert boundary: 1, 0.75
Set interval text: 1, 1, "café ""crème"""
Set interval text: 1, 2, "日本語" + newline$ + "second line €"
Insert point: 2, 1.125, "😀 emoji"
Insert point: 2, 2, ""
@save: "unicode"
Remove

# How Praat reads an ELAN-style file whose headers lack the blank: item[1]:
Read from file: "elan_headers.TextGrid"
@dump: "elan_headers.expected"
Remove
