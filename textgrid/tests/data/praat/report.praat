# Prints every tier and item of the TextGrid file given as argument; texts as
# code points, so line breaks, quotes and non-ASCII survive the trip through
# Praat's info window. A point prints one time.
form Report
    sentence file x
endform
Read from file: file$
start = Get start time
end = Get end time
writeInfoLine: "grid ", start, " ", end
n = Get number of tiers
for t to n
    name$ = Get tier name: t
    interval = Is interval tier: t
    @codes: name$
    appendInfoLine: "tier ", interval, " ", codes.out$
    if interval
        m = Get number of intervals: t
        for i to m
            a = Get start time of interval: t, i
            b = Get end time of interval: t, i
            label$ = Get label of interval: t, i
            @codes: label$
            appendInfoLine: "item ", a, " ", b, " ", codes.out$
        endfor
    else
        m = Get number of points: t
        for i to m
            a = Get time of point: t, i
            label$ = Get label of point: t, i
            @codes: label$
            appendInfoLine: "item ", a, " ", codes.out$
        endfor
    endif
endfor
procedure codes: .text$
    .out$ = "["
    for .i to length(.text$)
        .out$ = .out$ + string$(unicode(mid$(.text$, .i, 1))) + ","
    endfor
    .out$ = .out$ + "]"
endproc
