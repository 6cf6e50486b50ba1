% R = travo (minima, global_value, distance, radius, action, test, X, Y, i, j)
%
% One member of the travo test class in two dimensions over the box
% [-1, 1] x [-1, 1], and one question about it.
%
% minima        number of local minima, the paraboloid vertex included
%               (floor, at least 2)
% global_value  value of the global minimum (below 0)
% distance      distance from the paraboloid vertex to the global minimizer
%               (> 0, below 1)
% radius        radius of the global minimizer's attraction region
%               (> 0, at most distance/2)
% action        a name below, exactly, or its number (floor of a real scalar)
% test          test number, 1 to 100 (floor); the same five numbers give
%               the same member on every call
% X, Y          real double matrices of the same size: first and second
%               coordinates of the points
% i, j          partial-derivative indices, 1 for X and 2 for Y
%
% Action           Number  Inputs   Result
% "info"           0       6        one row per minimizer: value, region
%                                   radius, x1, x2; row 1 is the paraboloid
%                                   vertex, row 2 the global minimizer
% "ND_func"        1       8        non-differentiable values, size of X
% "D_func"         2       8        continuously differentiable values
% "D2_func"        3       8        twice continuously differentiable values
% "D_deriv"        4       9        derivative along i, D member, size of X
% "D2_deriv1"      5       9        derivative along i, D2 member
% "D2_deriv2"      6       10       second derivative along i and j, D2
% "D_gradient"     7       8 to 10  2 x 1 gradient of the D member at the
%                                   single point (X, Y)
% "D2_gradient"    8       8 to 10  2 x 1 gradient of the D2 member
% "D2_hessian"     9       8 to 10  2 x 2 Hessian of the D2 member; row =
%                                   first index
%
% A point more than 1e-10 outside the box, or a derivative index of 0,
% gives 1e+100 without an error. A bad input ends the call with an error
% naming the first faulty input.
%
% The module keeps the members it built (up to 8, together up to 256 MiB)
% and answers from them when the same five numbers come again, with the
% same bits as a fresh member; "clear travo" releases them.
%
% Example:
%   T = travo (10, -1, 2/3, 1/3, "info", 1);
%   [x, y] = meshgrid (linspace (-1, 1, 101));
%   F = travo (10, -1, 2/3, 1/3, "D2_func", 1, x, y);
%   g = travo (10, -1, 2/3, 1/3, "D_gradient", 1, 0.1, -0.2);
%
% See also: travo_member.
