# Prints, for every file named in a list (a path a line), what Praat reads from
# it: "file" and the path, then "refused", or the bounds, every tier and every
# item (a point with its time twice). Numbers are printed as Praat converts them
# to text, in the shortest form that reads back exactly; in names and labels a
# backslash is doubled and a line feed written as \n, so a record is one line.
# One run for many files: Praat starts once.
form Report files
    sentence list x
endform
list$ = readFile$(list$)
writeInfo: ""
while length(list$) > 0
    cut = index(list$, newline$)
    if cut = 0
        cut = length(list$) + 1
    endif
    path$ = left$(list$, cut - 1)
    list$ = mid$(list$, cut + 1, length(list$))
    if path$ <> ""
        appendInfoLine: "file ", path$
        nocheck Read from file: path$
        if numberOfSelected() = 1 and numberOfSelected("TextGrid") = 1
            @report
            Remove
        else
            appendInfoLine: "refused"
            nocheck Remove
        endif
    endif
endwhile

procedure report
    start = Get start time
    end = Get end time
    tiers = Get number of tiers
    appendInfoLine: "grid ", start, " ", end
    for t to tiers
        name$ = Get tier name: t
        interval = Is interval tier: t
        @escaped: name$
        appendInfoLine: "tier ", interval, " ", escaped.out$
        if interval
            m = Get number of intervals: t
            for i to m
                a = Get start time of interval: t, i
                b = Get end time of interval: t, i
                label$ = Get label of interval: t, i
                @escaped: label$
                appendInfoLine: "item ", a, " ", b, " ", escaped.out$
            endfor
        else
            m = Get number of points: t
            for i to m
                a = Get time of point: t, i
                label$ = Get label of point: t, i
                @escaped: label$
                appendInfoLine: "item ", a, " ", a, " ", escaped.out$
            endfor
        endif
    endfor
endproc

procedure escaped: .text$
    .out$ = replace$(replace$(.text$, "\", "\\", 0), newline$, "\n", 0)
endproc
